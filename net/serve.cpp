// --serve on libmicrohttpd: the library owns the sockets, the parsing and the
// polling thread; this file owns what is served and its limits.
//   Texts       /now's JSON, /metrics, the Host check (pure, tested alone)
//   Clients     one record a connection: the 33rd and later, slow requests,
//               and each event reader's backlog
//   Handler     one function that dispatches on the path
//   Pump        our thread: each publication becomes an event for every
//               reader; a reader that lets 64 KiB pile up is dropped
//   Start, stop binding the address ourselves, for a cause to name
#include "net/serve.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/sockios.h>
#include <microhttpd.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

extern const unsigned char serve_page[];
extern const size_t serve_page_size;

namespace {
constexpr int32_t kClients = 32;           // at once; the next ones get 503
constexpr uint32_t kHardLimit = 48;         // beyond this the library closes at once
constexpr size_t kHeaderLimit = 8192;       // a longer header section gets 431
constexpr size_t kBacklogLimit = 64 * 1024; // bytes an event reader may leave waiting
constexpr int64_t kRequestMs = 15000;       // for a request to arrive whole
constexpr int64_t kCommentMs = 15000;       // a comment line keeps proxies from closing a stream
const char* const kStates[] = {"searching", "answering", "lost", "waiting"};

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---- Texts

// Text from the scanner or the command line may hold any byte: what is not
// UTF-8 becomes U+FFFD, so that JSON and Prometheus readers take it.
size_t utf8_length(const unsigned char* p) {
    unsigned char c = p[0];
    size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n <= 1) return n;
    for (size_t i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    // Overlong forms, surrogates and code points above U+10FFFF.
    if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F) || (c == 0xF0 && p[1] < 0x90) ||
        (c == 0xF4 && p[1] > 0x8F))
        return 0;
    return n;
}

void add_json_text(std::string& out, const char* text) {
    out += '"';
    for (auto p = reinterpret_cast<const unsigned char*>(text); *p;) {
        size_t n = utf8_length(p);
        if (n == 0) {
            out += "\\ufffd";
            ++p;
        } else if (n > 1) {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        } else {
            char c = static_cast<char>(*p++);
            if (c == '"' || c == '\\') out += '\\', out += c;
            else if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else out += c;
        }
    }
    out += '"';
}

void add_label_text(std::string& out, const char* text) {
    for (auto p = reinterpret_cast<const unsigned char*>(text); *p;) {
        size_t n = utf8_length(p);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++p;
            continue;
        }
        if (*p == '"' || *p == '\\') out += '\\';
        if (*p == '\n') out += "\\n";
        else out.append(reinterpret_cast<const char*>(p), n);
        p += n;
    }
}

void add_field(std::string& out, const char* name, bool known, int64_t value) {
    out += ",\"";
    out += name;
    out += "\":";
    out += known ? std::to_string(value) : "null";
}

const char* state_name(int32_t state) { return state >= 0 && state < 4 ? kStates[state] : "searching"; }
}  // namespace

std::string serve_json(const Readings& r) {
    std::string out = "{\"time\":";
    if (r.time[0]) add_json_text(out, r.time);
    else out += "null";
    out += ",\"seq\":" + std::to_string(r.seq) + ",\"state\":\"" + state_name(r.state) + "\",\"port\":";
    add_json_text(out, r.port);
    add_field(out, "baud", r.baud > 0, r.baud);
    out += ",\"model\":";
    if (r.model[0]) add_json_text(out, r.model);
    else out += "null";
    add_field(out, "frequency_hz", r.have_pass, r.frequency_hz);
    add_field(out, "level", r.have_pass, r.level);
    add_field(out, "tuning", r.have_pass, r.tuning);
    add_field(out, "signal", r.have_pass, r.signal);
    add_field(out, "peak", r.peak >= 0, r.peak);
    add_field(out, "pitch_hz", r.have_pass && r.pitch_hz > 0, r.pitch_hz);
    out += '}';
    return out;
}

std::string serve_metrics(const Readings& r) {
    std::string label = "port=\"";
    add_label_text(label, r.port);
    label += '"';
    std::string out;
    auto family = [&](const char* name, const char* type, const char* help) {
        out += std::string("# HELP rxmon_") + name + ' ' + help + "\n# TYPE rxmon_" + name + ' ' + type + '\n';
    };
    auto sample = [&](const char* name, const std::string& labels, int64_t value) {
        out += std::string("rxmon_") + name + '{' + labels + "} " + std::to_string(value) + '\n';
    };
    // A reading not known has no sample: a scrape then shows a gap, not a 0.
    if (r.have_pass) {
        family("signal", "gauge", "The scanner's signal reading, 0 to 1023.");
        sample("signal", label, r.signal);
        family("level", "gauge", "The scanner's supply level reading.");
        sample("level", label, r.level);
        family("frequency_hz", "gauge", "The frequency the scanner is tuned to, in hertz.");
        sample("frequency_hz", label, r.frequency_hz);
    }
    if (r.baud > 0) {
        family("baud", "gauge", "The line rate at which the scanner answers.");
        sample("baud", label, r.baud);
    }
    family("state", "gauge", "1 for the monitor's present state, 0 for the others.");
    for (int32_t s = 0; s < 4; ++s) sample("state", label + ",state=\"" + kStates[s] + '"', r.state == s);
    family("passes_total", "counter", "Polling passes completed.");
    sample("passes_total", label, static_cast<int64_t>(r.passes));
    family("lost_communications_total", "counter", "Times the scanner stopped answering.");
    sample("lost_communications_total", label, static_cast<int64_t>(r.lost));
    family("reconnects_total", "counter", "Times the port came back after going away.");
    sample("reconnects_total", label, static_cast<int64_t>(r.reconnects));
    return out;
}

bool serve_host_is_loopback(const char* host, int32_t port) {
    if (host == nullptr) return false;
    const char* colon = std::strrchr(host, ':');
    if (colon == nullptr || std::strtol(colon + 1, nullptr, 10) != port ||
        std::to_string(port) != colon + 1)
        return false;
    std::string name(host, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "localhost" || name == "localhost." || name == "[::1]") return true;
    in_addr address;
    return inet_pton(AF_INET, name.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

namespace {
// ---- Clients

struct Client {
    MHD_Connection* connection;
    int fd;
    int64_t since_ms;           // accepted, or the last answer completed
    bool in_request = false;    // its request arrived whole and is answered
    bool over_limit = false;    // beyond kClients: answered 503
    bool stream = false;        // an event reader
    bool suspended = false;     // nothing to send; the pump resumes it
    bool dropped = false;
    uint64_t seq = 0;           // the last publication queued for it
    std::string backlog;        // events not yet taken by the library
};

std::mutex guard;  // the clients and every field of theirs
std::list<Client*> clients;
MHD_Daemon* daemon_handle = nullptr;
std::thread pump_thread;
std::atomic<bool> stopping{false};
int32_t served_port = 0;
bool loopback_bind = false;
char page_address[300];

// Shuts the socket down, which the library sees at once and answers by
// closing the connection; the descriptor stays the library's to close, and
// it stays open while `guard` is held (the close notice takes it first).
// The close resets the connection: what waits for a reader that stopped
// would otherwise hold the kernel's buffers until the peer's timeout.
void drop(Client* c) {
    if (c->dropped) return;
    c->dropped = true;
    linger reset = {1, 0};
    setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    shutdown(c->fd, SHUT_RDWR);
    if (c->suspended) {
        c->suspended = false;
        MHD_resume_connection(c->connection);
    }
}

void on_connection(void*, MHD_Connection* connection, void** context, MHD_ConnectionNotificationCode code) {
    std::lock_guard<std::mutex> hold(guard);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto c = new Client;
        c->connection = connection;
        c->fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
        c->since_ms = now_ms();
        c->over_limit = clients.size() >= kClients;
        clients.push_back(c);
        *context = c;
    } else if (auto c = static_cast<Client*>(*context)) {
        clients.remove(c);
        delete c;
        *context = nullptr;
    }
}

void on_completed(void*, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    auto c = static_cast<Client*>(MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
    std::lock_guard<std::mutex> hold(guard);
    if (c) c->in_request = false, c->since_ms = now_ms();
}

// ---- Handler

MHD_Result header_size(void* total, MHD_ValueKind, const char* key, const char* value) {
    *static_cast<size_t*>(total) += std::strlen(key) + std::strlen(value) + 4;
    return MHD_YES;
}

MHD_Result answer(MHD_Connection* connection, unsigned status, const char* type, const void* body, size_t size,
                  MHD_ResponseMemoryMode mode = MHD_RESPMEM_MUST_COPY) {
    MHD_Response* response = MHD_create_response_from_buffer(size, const_cast<void*>(body), mode);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, "Content-Type", type);
    MHD_add_response_header(response, "Cache-Control", "no-store");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(response, "Allow", "GET, HEAD");
    if (status >= 400) MHD_add_response_header(response, "Connection", "close");
    MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result refuse(MHD_Connection* connection, unsigned status, const char* why) {
    return answer(connection, status, "text/plain; charset=utf-8", why, std::strlen(why));
}

ssize_t read_events(void* cls, uint64_t, char* buffer, size_t max) {
    auto c = static_cast<Client*>(cls);
    std::lock_guard<std::mutex> hold(guard);
    if (c->dropped) return MHD_CONTENT_READER_END_WITH_ERROR;
    if (stopping) return MHD_CONTENT_READER_END_OF_STREAM;
    if (c->backlog.empty()) {
        c->suspended = true;
        MHD_suspend_connection(c->connection);
        return 0;
    }
    size_t n = c->backlog.size() < max ? c->backlog.size() : max;
    std::memcpy(buffer, c->backlog.data(), n);
    c->backlog.erase(0, n);
    return static_cast<ssize_t>(n);
}

MHD_Result start_events(MHD_Connection* connection, Client* c) {
    MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, read_events, c, nullptr);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, "Content-Type", "text/event-stream");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    Readings r = readings_latest();
    {
        std::lock_guard<std::mutex> hold(guard);
        c->stream = true;
        c->seq = r.seq;
        c->backlog = "retry: 1000\n\ndata: " + serve_json(r) + "\n\n";
    }
    // A stream is idle between events by nature: the backlog limit, not the
    // idle timeout, ends a reader that stopped. A small send buffer makes
    // the limit count what is really waiting.
    MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, 0u);
    int size = 8192;
    setsockopt(c->fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result handle(void*, MHD_Connection* connection, const char* url, const char* method, const char*, const char*,
                  size_t*, void** request) {
    static int first_call;
    if (*request == nullptr) {
        *request = &first_call;
    }
    auto c = static_cast<Client*>(MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
    {
        std::lock_guard<std::mutex> hold(guard);
        c->in_request = true;
    }
    if (c->over_limit) return refuse(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "Too many clients.\n");
    size_t headers = 0;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, header_size, &headers);
    if (headers > kHeaderLimit)
        return refuse(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "Header section too large.\n");
    if (loopback_bind &&
        !serve_host_is_loopback(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host"), served_port))
        return refuse(connection, MHD_HTTP_FORBIDDEN, "This server answers only to its loopback name.\n");
    bool head = std::strcmp(method, "HEAD") == 0;
    if (!head && std::strcmp(method, "GET") != 0)
        return refuse(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD.\n");
    if (std::strcmp(url, "/") == 0)
        return answer(connection, MHD_HTTP_OK, "text/html; charset=utf-8", serve_page, serve_page_size,
                      MHD_RESPMEM_PERSISTENT);
    if (std::strcmp(url, "/now") == 0) {
        std::string json = serve_json(readings_latest()) + '\n';
        return answer(connection, MHD_HTTP_OK, "application/json", json.data(), json.size());
    }
    if (std::strcmp(url, "/metrics") == 0) {
        std::string text = serve_metrics(readings_latest());
        return answer(connection, MHD_HTTP_OK, "text/plain; version=0.0.4; charset=utf-8", text.data(), text.size());
    }
    if (std::strcmp(url, "/events") == 0) {
        if (head) return answer(connection, MHD_HTTP_OK, "text/event-stream", "", 0);
        return start_events(connection, c);
    }
    return refuse(connection, MHD_HTTP_NOT_FOUND, "Not found.\n");
}

// ---- Pump

// Bytes the kernel holds for this socket that the peer has not taken.
size_t unsent(int fd) {
    int n = 0;
    return ioctl(fd, SIOCOUTQ, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

void pump() {
    uint64_t seq = readings_latest().seq;
    int64_t last_comment = now_ms();
    std::string event;
    while (!stopping) {
        Readings r = readings_wait(seq, 250);
        int64_t now = now_ms();
        bool fresh = r.seq != seq;
        if (fresh) seq = r.seq, event = "data: " + serve_json(r) + "\n\n";
        bool comment = now - last_comment >= kCommentMs;
        if (comment) last_comment = now;
        std::lock_guard<std::mutex> hold(guard);
        for (Client* c : clients) {
            if (!c->in_request && !c->stream && now - c->since_ms > kRequestMs) drop(c);
            if (!c->stream || c->dropped) continue;
            // The library does not watch a suspended reader: one that left
            // would hold its place among the 32 until the next event.
            pollfd watch = {c->fd, POLLRDHUP, 0};
            if (c->suspended && poll(&watch, 1, 0) > 0) {
                drop(c);
                continue;
            }
            bool more = false;
            if (fresh && r.seq > c->seq) c->seq = r.seq, c->backlog += event, more = true;
            if (comment) c->backlog += ":\n\n", more = true;
            if (!more) continue;
            if (c->backlog.size() + unsent(c->fd) > kBacklogLimit) drop(c);
            else if (c->suspended) c->suspended = false, MHD_resume_connection(c->connection);
        }
    }
}

// ---- Start, stop

bool is_loopback(const sockaddr* a) {
    if (a->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr) >> 24) == 127;
    auto six = &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(six) || (IN6_IS_ADDR_V4MAPPED(six) && six->s6_addr[12] == 127);
}

bool is_wildcard(const sockaddr* a) {
    if (a->sa_family == AF_INET) return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr == INADDR_ANY;
    return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr);
}

// An address of this machine that a phone on the same network can type:
// the first IPv4 address of an interface that is up, else a global IPv6 one.
void machine_address(char* out, size_t size) {
    ifaddrs* list = nullptr;
    std::string four, six;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || !(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
            char text[INET6_ADDRSTRLEN];
            if (i->ifa_addr->sa_family == AF_INET && four.empty()) {
                inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
                four = text;
            } else if (i->ifa_addr->sa_family == AF_INET6 && six.empty()) {
                auto a = &reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr;
                if (IN6_IS_ADDR_LINKLOCAL(a)) continue;
                inet_ntop(AF_INET6, a, text, sizeof text);
                six = std::string("[") + text + "]";
            }
        }
        freeifaddrs(list);
    }
    if (four.empty() && six.empty()) gethostname(out, size - 1);
    else std::snprintf(out, size, "%s", (four.empty() ? six : four).c_str());
}
}  // namespace

bool serve_start(const char* host, int32_t port, char* why, size_t why_size) {
    bool six_text = std::strchr(host, ':') != nullptr;
    char where[300];
    std::snprintf(where, sizeof where, six_text ? "[%s]:%d" : "%s:%d", host, port);
    addrinfo hints = {}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    std::string service = std::to_string(port);
    if (int e = getaddrinfo(host, service.c_str(), &hints, &found); e != 0) {
        std::snprintf(why, why_size, "rxmon: cannot serve on %s: %s", where,
                      e == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(e));
        return false;
    }
    int fd = -1, error = 0;
    addrinfo* bound = nullptr;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        // The next run binds the port at once, whatever its last connections left.
        int yes = 1, no = 0;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // A wildcard IPv6 bind takes IPv4 clients too: a phone may have either.
        if (a->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 64) != 0) {
            error = errno;
            close(fd);
            fd = -1;
        } else {
            bound = a;
        }
    }
    if (fd < 0) {
        std::snprintf(why, why_size, "rxmon: cannot serve on %s: %s", where, std::strerror(error));
        freeaddrinfo(found);
        return false;
    }
    served_port = port;
    loopback_bind = is_loopback(bound->ai_addr);
    char name[280];
    if (is_wildcard(bound->ai_addr)) machine_address(name, sizeof name);
    else std::snprintf(name, sizeof name, six_text ? "[%s]" : "%s", host);
    std::snprintf(page_address, sizeof page_address, "http://%s:%d/", name, port);
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
    if (bound->ai_family == AF_INET6) flags |= MHD_USE_IPv6;
    freeaddrinfo(found);
    daemon_handle = MHD_start_daemon(
        flags, 0, nullptr, nullptr, handle, nullptr, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT,
        kHardLimit, MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(24 * 1024),
        MHD_OPTION_NOTIFY_CONNECTION, on_connection, nullptr, MHD_OPTION_NOTIFY_COMPLETED, on_completed, nullptr,
        MHD_OPTION_END);
    if (daemon_handle == nullptr) {
        close(fd);
        std::snprintf(why, why_size, "rxmon: cannot serve on %s: the HTTP server did not start", where);
        return false;
    }
    readings_enable();
    pump_thread = std::thread(pump);
    return true;
}

void serve_page_address(char* out, size_t size) { std::snprintf(out, size, "%s", page_address); }

void serve_stop() {
    if (daemon_handle == nullptr) return;
    stopping = true;
    pump_thread.join();
    {
        // The library must not be stopped with connections suspended.
        std::lock_guard<std::mutex> hold(guard);
        for (Client* c : clients)
            if (c->suspended) c->suspended = false, MHD_resume_connection(c->connection);
    }
    MHD_stop_daemon(daemon_handle);
    daemon_handle = nullptr;
}
