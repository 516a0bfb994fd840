// A resolver for the tests, preloaded into rxmon: each lookup of a name is
// logged to RESOLVER_LOG and waits RESOLVER_SLOW_MS; with RESOLVER_ONCE every
// lookup after the first never answers. Names ending in .test are 127.0.0.1.
#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** res) {
    using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node == nullptr || (hints && (hints->ai_flags & AI_NUMERICHOST))) return real(node, service, hints, res);
    static std::atomic<int> lookups{0};
    bool again = ++lookups > 1;
    if (FILE* log = getenv("RESOLVER_LOG") ? fopen(getenv("RESOLVER_LOG"), "a") : nullptr)
        fprintf(log, "%s\n", node), fclose(log);
    if (getenv("RESOLVER_SLOW_MS")) usleep(atoi(getenv("RESOLVER_SLOW_MS")) * 1000);
    while (again && getenv("RESOLVER_ONCE")) sleep(60);
    size_t n = strlen(node);
    return real(n > 5 && strcmp(node + n - 5, ".test") == 0 ? "127.0.0.1" : node, service, hints, res);
}
