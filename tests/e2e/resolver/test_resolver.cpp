// A resolver preloaded into rxmon by the tests: each lookup of a name is
// logged to RESOLVER_LOG and takes RESOLVER_SLOW_MS; with RESOLVER_ONCE no
// lookup after the first answers. Names ending in .test are 127.0.0.1.
#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** res) {
    static auto real = reinterpret_cast<int (*)(const char*, const char*, const addrinfo*, addrinfo**)>(
        dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node == nullptr || (hints && (hints->ai_flags & AI_NUMERICHOST))) return real(node, service, hints, res);
    static int lookups = 0;
    if (FILE* log = getenv("RESOLVER_LOG") ? fopen(getenv("RESOLVER_LOG"), "a") : nullptr) fprintf(log, "%s\n", node), fclose(log);
    usleep(atoi(getenv("RESOLVER_SLOW_MS") ? getenv("RESOLVER_SLOW_MS") : "0") * 1000);
    while (lookups++ > 0 && getenv("RESOLVER_ONCE")) sleep(60);
    size_t n = strlen(node);
    return real(n > 5 && strcmp(node + n - 5, ".test") == 0 ? "127.0.0.1" : node, service, hints, res);
}
