// Network serial ports: rfc2217://HOST:PORT is a TCP connection to a port
// server (ser2net, for one) that speaks telnet with COM-PORT-OPTION. It is a
// second kind of serial handle beside the terminal line, behind the same
// ReadFile, WriteFile and comm calls.
//
// Map: waiting, with an eye on ESC; the connection's handle object;
// receiving, through the decoder of telnet.cpp, into a queue of serial
// data; sending with IAC doubled; ReadFile and WriteFile under
// COMMTIMEOUTS; the line settings, set and confirmed by the server; the
// address, looked up once and kept while it connects; opening.
//
// Every wait (the lookup, the connection, the server's first reports, a
// setting's confirmation, the close) looks for ESC on the console every
// 50 ms and ends early when it waits there (ERROR_OPERATION_ABORTED where a
// call fails of it), so that the program's own look at the keys comes round
// in time, whatever the server does.
//
// Limits of the emulation:
// - The server sets the line. Flow control, the XON/XOFF characters and
//   the error characters stay in the DCB and do not reach it.
// - DTR and RTS are sent and not awaited: a server whose device has no
//   modem lines (ser2net on a pseudo-terminal) never answers them.
// - A setting that the server does not confirm within 1 s is taken as set,
//   and from then on, while the address is kept, settings are not awaited.
// - cbOutQue is 0: bytes the kernel has not sent yet are not counted.
// - Line errors (parity, framing) are not reported; only an overrun of the
//   queue is (CE_RXOVER).
// - A host name goes through the system's resolver, on a thread of its own
//   so that the wait can end; a lookup that is still running is waited for
//   again rather than started twice.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "platform/posix/comm.h"
#include "platform/posix/telnet.h"

namespace posix {

namespace {

constexpr int64_t kLookupMs = 5000;    // for the resolver to answer
constexpr int64_t kConnectMs = 3000;   // to connect to the server
constexpr int64_t kOpeningMs = 2000;   // for the server to report the line's settings
constexpr int64_t kConfirmMs = 1000;   // for it to confirm a setting, until it is seen not to
constexpr int64_t kCloseMs = 500;      // for it to close its side after ours
constexpr int64_t kSliceMs = 50;       // how often a wait looks for ESC
constexpr size_t kQueueBytes = 4096;   // received serial data, as a driver's input queue

// Waits until `fd` is ready for `events` (or has an error to tell) or the
// deadline passes. 1 ready, 0 timed out, 2 ESC waits on the console.
int wait_or_esc(int fd, short events, int64_t deadline) {
    for (;;) {
        if (esc_waiting()) return 2;
        int64_t left = deadline < 0 ? kSliceMs : std::min(deadline - now_ms(), kSliceMs);
        if (left <= 0) return 0;
        pollfd p = {fd, events, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r > 0 || (r < 0 && errno != EINTR)) return 1;  // the call that follows meets the error
    }
}

// What this run knows of the address in use: where it connects, and whether
// its server confirms settings. Kept while the address still connects.
struct KnownAddress {
    std::string host, service;
    addrinfo* list = nullptr;
    bool unconfirming = false;
    void forget() {
        if (list) freeaddrinfo(list);
        *this = KnownAddress{};
    }
} known;

// The line as the server has it, in COM-PORT-OPTION's codes, 0 for unknown:
// as it last reported a possible value, else as last asked for.
struct LineBelief {
    uint32_t baud = 0;
    uint8_t datasize = 0, parity = 0, stopsize = 0;
};

struct NetSerialObject : CommObject {
    TelnetState telnet;
    LineBelief line;
    uint8_t queue[kQueueBytes];
    size_t queued = 0;
    bool overrun = false;  // data was lost because the queue was full
    bool aborted = false;  // the last wait ended on ESC

    BOOL read(void* buffer, DWORD count, DWORD* done) override;
    BOOL write(const void* buffer, DWORD count, DWORD* done) override;
    BOOL get_state(DCB* out) override;
    BOOL set_state(const DCB& wanted) override;
    BOOL clear_error(DWORD* errors, COMSTAT* status) override;
    BOOL close() override;

    bool receive();
    size_t send_raw(const uint8_t* bytes, size_t count, int64_t deadline);
    bool await_reports(uint8_t bits, int64_t deadline);
    void take_reports(uint8_t bits);
};

// Takes in what the server has sent so far, without waiting. False once the
// connection is gone.
bool NetSerialObject::receive() {
    // A server that floods us is read in bounded rounds, so that a call
    // always returns.
    for (int round = 0; round < 16 && !gone; ++round) {
        uint8_t raw[1024], data[sizeof raw], reply[sizeof raw + 2];
        ssize_t n = recv(fd, raw, sizeof raw, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
            gone = true;
            break;
        }
        size_t answer = 0;
        size_t got = telnet_decode(telnet, raw, static_cast<size_t>(n), data, reply, &answer);
        if (got > kQueueBytes - queued) {
            overrun = true;
            got = kQueueBytes - queued;
        }
        memcpy(queue + queued, data, got);
        queued += got;
        if (answer) send_raw(reply, answer, now_ms() + kCloseMs);
    }
    return !gone;
}

// Sends until done or the deadline (-1: none); returns the bytes sent.
size_t NetSerialObject::send_raw(const uint8_t* bytes, size_t count, int64_t deadline) {
    size_t sent = 0;
    while (sent < count && !gone) {
        ssize_t n = send(fd, bytes + sent, count - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            gone = true;
            break;
        }
        int r = wait_or_esc(fd, POLLOUT, deadline);
        aborted = r == 2;
        if (r != 1) break;
    }
    return sent;
}

// Waits until the server has reported every setting in `bits`.
bool NetSerialObject::await_reports(uint8_t bits, int64_t deadline) {
    for (;;) {
        if (!receive() || telnet.com_port_refused) return false;
        if ((telnet.reported & bits) == bits) return true;
        int r = wait_or_esc(fd, POLLIN, deadline);
        aborted = r == 2;
        if (r != 1) return false;
    }
}

// The settings in `bits` as the server reported them, where it did and the
// value is one a line can have; the DCB shows the line so.
void NetSerialObject::take_reports(uint8_t bits) {
    uint8_t got = telnet.reported & bits;
    if ((got & REPORTED_BAUD) && telnet.baud != 0) line.baud = telnet.baud;
    if ((got & REPORTED_DATASIZE) && telnet.datasize >= 5 && telnet.datasize <= 8) line.datasize = telnet.datasize;
    if ((got & REPORTED_PARITY) && telnet.parity >= 1 && telnet.parity <= 5) line.parity = telnet.parity;
    if ((got & REPORTED_STOPSIZE) && telnet.stopsize >= 1 && telnet.stopsize <= 3) line.stopsize = telnet.stopsize;
    if (line.baud) dcb.BaudRate = line.baud;
    if (line.datasize) dcb.ByteSize = line.datasize;
    if (line.parity) dcb.Parity = static_cast<BYTE>(line.parity - 1);
    if (line.stopsize == 1) dcb.StopBits = ONESTOPBIT;
    if (line.stopsize == 2) dcb.StopBits = TWOSTOPBITS;
    if (line.stopsize == 3) dcb.StopBits = ONE5STOPBITS;
}

}  // namespace

// --- ReadFile and WriteFile --------------------------------------------------

BOOL NetSerialObject::read(void* buffer, DWORD count, DWORD* done) {
    *done = 0;
    if (gone) return vanished();
    ReadWait limits(timeouts, count);
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (;;) {
        bool alive = receive();
        size_t take = std::min<size_t>(queued, count - *done);
        if (take > 0) {
            memcpy(bytes + *done, queue, take);
            memmove(queue, queue + take, queued - take);
            queued -= take;
            *done += static_cast<DWORD>(take);
            limits.got_bytes();
        }
        if (*done == count) break;
        if (!alive) return *done ? TRUE : vanished();
        int64_t limit = limits.left(*done);
        if (limit == 0 || wait_or_esc(fd, POLLIN, limit < 0 ? -1 : now_ms() + limit) != 1) break;
    }
    return TRUE;
}

// Every IAC goes out doubled, so that bytes 0 to 255 all pass; *done
// counts the caller's bytes, not the doubled ones. The total write
// time-out (multiplier × bytes + constant) bounds the call, as on a line.
BOOL NetSerialObject::write(const void* buffer, DWORD count, DWORD* done) {
    *done = 0;
    if (gone) return vanished();
    int64_t deadline = write_deadline(count);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (*done < count) {
        uint8_t wire[1024];
        size_t length = 0;
        DWORD taken = 0;
        while (*done + taken < count && length + 2 <= sizeof wire) {
            uint8_t b = bytes[*done + taken++];
            if (b == TELNET_IAC) wire[length++] = b;
            wire[length++] = b;
        }
        size_t sent = send_raw(wire, length, deadline);
        if (sent == length) {
            *done += taken;
            continue;
        }
        // Cut short: count the bytes that left whole. Half a doubled IAC
        // would turn the next byte into a command, so its other half goes
        // out whatever the time-out says.
        for (size_t at = 0; at < sent; ++*done) {
            size_t width = bytes[*done] == TELNET_IAC ? 2 : 1;
            if (at + width > sent && send_raw(wire + sent, 1, now_ms() + kCloseMs) != 1) break;
            at += width;
        }
        break;
    }
    if (gone && *done == 0) return vanished();
    return TRUE;
}

// --- Line settings -------------------------------------------------------------

BOOL NetSerialObject::get_state(DCB* out) {
    if (gone) return vanished();
    *out = dcb;
    return TRUE;
}

// Sends what differs from the line as the server has it, and waits, while
// the server is known to confirm, until it has reported each of those
// settings again: it is the server that says what the line now runs at. A
// setting it does not confirm in time is taken as set, and the server as
// one that does not confirm. A change of DTR or RTS alone (the close) sends
// and never waits.
BOOL NetSerialObject::set_state(const DCB& d) {
    if (gone) return vanished();
    aborted = false;
    if (d.BaudRate == 0 || !framing_valid(d)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LineBelief want;
    want.baud = d.BaudRate;
    want.datasize = d.ByteSize;
    want.parity = static_cast<uint8_t>(d.Parity + 1);
    want.stopsize = d.StopBits == ONESTOPBIT ? 1 : d.StopBits == TWOSTOPBITS ? 2 : 3;
    uint8_t out[64], baud[4] = {uint8_t(want.baud >> 24), uint8_t(want.baud >> 16), uint8_t(want.baud >> 8),
                                uint8_t(want.baud)};
    size_t n = 0;
    uint8_t asked = 0;
    if (line.baud != want.baud)
        n += telnet_com_port_command(out + n, CPO_SET_BAUDRATE, baud, 4), asked |= REPORTED_BAUD;
    if (line.datasize != want.datasize)
        n += telnet_com_port_command(out + n, CPO_SET_DATASIZE, &want.datasize, 1), asked |= REPORTED_DATASIZE;
    if (line.parity != want.parity)
        n += telnet_com_port_command(out + n, CPO_SET_PARITY, &want.parity, 1), asked |= REPORTED_PARITY;
    if (line.stopsize != want.stopsize)
        n += telnet_com_port_command(out + n, CPO_SET_STOPSIZE, &want.stopsize, 1), asked |= REPORTED_STOPSIZE;
    bool dtr = d.fDtrControl != DTR_CONTROL_DISABLE, rts = d.fRtsControl != RTS_CONTROL_DISABLE;
    if (dtr != (dcb.fDtrControl != DTR_CONTROL_DISABLE)) {
        uint8_t control = dtr ? 8 : 9;
        n += telnet_com_port_command(out + n, CPO_SET_CONTROL, &control, 1);
    }
    if (rts != (dcb.fRtsControl != RTS_CONTROL_DISABLE)) {
        uint8_t control = rts ? 11 : 12;
        n += telnet_com_port_command(out + n, CPO_SET_CONTROL, &control, 1);
    }
    telnet.reported &= static_cast<uint8_t>(~asked);
    int64_t deadline = now_ms() + kConfirmMs;
    if (send_raw(out, n, deadline) != n) {
        if (gone) return vanished();
        SetLastError(aborted ? ERROR_OPERATION_ABORTED : ERROR_GEN_FAILURE);
        return FALSE;
    }
    // From here on the server has been asked: whatever the wait brings, the
    // line is taken to be as asked, unless the server reports otherwise.
    dcb = d;
    line = want;
    bool confirmed = asked == 0 || known.unconfirming || await_reports(asked, deadline);
    if (gone) return vanished();
    if (aborted) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    if (!confirmed) known.unconfirming = true;
    take_reports(asked);
    if (line.baud != want.baud || line.datasize != want.datasize || line.parity != want.parity ||
        line.stopsize != want.stopsize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL NetSerialObject::clear_error(DWORD* errors, COMSTAT* status) {
    if (!receive()) return vanished();
    if (errors) *errors = overrun ? CE_RXOVER : 0;
    overrun = false;
    if (status) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(queued);
    }
    return TRUE;
}

// A port server may still hold its device for a moment after our side has
// closed, and refuse the next connection meanwhile ("port already in use"):
// the reopening that follows every change of rate would then fail. So the
// close waits, at most 500 ms, for the server to close its side first.
BOOL NetSerialObject::close() {
    if (fd >= 0 && !gone && shutdown(fd, SHUT_WR) == 0) {
        int64_t deadline = now_ms() + kCloseMs;
        uint8_t discard[512];
        while (wait_or_esc(fd, POLLIN, deadline) == 1) {
            ssize_t n = recv(fd, discard, sizeof discard, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
        }
    }
    return HandleObject::close();
}

// --- The address ---------------------------------------------------------------

bool parse_address(const char* address, std::string* host, long* port, std::string* why) {
    const char* colon = strrchr(address, ':');
    if (colon == nullptr || colon == address) {
        *why = colon ? "the host is missing before the port number"
                     : "the port number is missing after the host";
        return false;
    }
    std::string number(colon + 1);
    if (!number.empty() && number.back() == '/') number.pop_back();
    char* end = nullptr;
    errno = 0;
    long value = number.empty() ? 0 : strtol(number.c_str(), &end, 10);
    if (number.empty()) *why = "the port number after the host is empty";
    else if (*end != 0 || !(number[0] >= '0' && number[0] <= '9'))
        *why = "the port number " + number + " is not a number";
    else if (errno == ERANGE || value < 1 || value > 65535)
        *why = "the port number " + number + " is outside 1 to 65535";
    else if (colon - address >= 256) *why = "the host name is longer than 255 characters";
    if (!why->empty()) return false;
    std::string name(address, static_cast<size_t>(colon - address));
    // [::1]:2000: an IPv6 address in brackets.
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (host) *host = name;
    if (port) *port = value;
    return true;
}

namespace {

// One lookup of the resolver, made on a thread of its own and shared with
// it, so that the wait for it can end while the lookup goes on.
struct Lookup {
    std::mutex mutex;
    std::string host, service;
    bool done = false;
    int error = 0;
    addrinfo* list = nullptr;
    ~Lookup() {
        if (list) freeaddrinfo(list);
    }
};
std::shared_ptr<Lookup> running;  // a lookup not yet taken up

// The addresses of host:service, from what is known, or a numeric address
// at once, or the resolver within kLookupMs. Null with the error and its
// cause set.
addrinfo* addresses(const std::string& host, const std::string& service) {
    if (known.list && known.host == host && known.service == service) return known.list;
    known.forget();
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
        if (!running || running->host != host || running->service != service) {
            auto lookup = std::make_shared<Lookup>();
            lookup->host = host;
            lookup->service = service;
            try {
                std::thread([lookup] {
                    addrinfo h{}, *list = nullptr;
                    h.ai_family = AF_UNSPEC;
                    h.ai_socktype = SOCK_STREAM;
                    int error = getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &h, &list);
                    std::lock_guard<std::mutex> g(lookup->mutex);
                    lookup->error = error;
                    lookup->list = list;
                    lookup->done = true;
                }).detach();
            } catch (...) {
                set_error_with_text(ERROR_NOT_ENOUGH_MEMORY, "no thread could be started to look up the host.");
                return nullptr;
            }
            running = lookup;
        }
        int64_t deadline = now_ms() + kLookupMs;
        for (;;) {
            {
                std::lock_guard<std::mutex> g(running->mutex);
                if (running->done) break;
            }
            if (esc_waiting()) {
                SetLastError(ERROR_OPERATION_ABORTED);
                return nullptr;
            }
            if (now_ms() >= deadline) {
                set_error_with_text(ERROR_SEM_TIMEOUT, "the resolver gave no answer for the host " + host +
                                                           " within 5 s.");
                return nullptr;
            }
            usleep(10'000);
        }
        std::shared_ptr<Lookup> lookup = running;
        running.reset();
        if (lookup->error != 0) {
            if (lookup->error == EAI_AGAIN)
                set_error_with_text(ERROR_SEM_TIMEOUT, "the host " + host + " cannot be looked up now: the "
                                                                              "resolver gives no answer.");
            else set_error_with_text(ERROR_FILE_NOT_FOUND, "the host " + host + " is not known.");
            return nullptr;
        }
        found = lookup->list;
        lookup->list = nullptr;
    }
    known.host = host;
    known.service = service;
    known.list = found;
    return found;
}

// A connected socket within kConnectMs, or -1 with the last error and its
// cause set. Addresses that no longer connect are forgotten, so that the
// next attempt looks the host up again.
int connect_to(const char* address) {
    std::string host, why;
    long port = 0;
    if (!parse_address(address, &host, &port, &why)) {
        set_error_with_text(ERROR_PATH_NOT_FOUND, why + ".");
        return -1;
    }
    char service[8];
    snprintf(service, sizeof service, "%ld", port);
    addrinfo* found = addresses(host, service);
    if (found == nullptr) return -1;
    int fd = -1, err = ETIMEDOUT;
    int64_t deadline = now_ms() + kConnectMs;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int r = connect(fd, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            int ready = wait_or_esc(fd, POLLOUT, deadline);
            socklen_t size = sizeof err;
            if (ready == 2) err = ECANCELED;
            else if (ready == 0) err = ETIMEDOUT;
            else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0) err = errno;
            r = ready == 1 && err == 0 ? 0 : -1;
        } else if (r != 0) {
            err = errno;
        }
        if (r != 0) close(fd), fd = -1;
        if (err == ECANCELED) break;
    }
    if (fd >= 0) {
        // Commands are a few bytes each and wait for their answer.
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return fd;
    }
    known.forget();
    if (err == ECANCELED) SetLastError(ERROR_OPERATION_ABORTED);
    else if (err == ECONNREFUSED)
        set_error_with_text(ERROR_FILE_NOT_FOUND,
                            host + " refused the connection: no port server listens on its port " + service + ".");
    else if (err == ETIMEDOUT)
        set_error_with_text(ERROR_SEM_TIMEOUT, "no answer from " + host + " port " + service + " within 3 s.");
    else set_error_with_text(ERROR_GEN_FAILURE, host + " port " + service + ": " + strerror(err) + ".");
    return -1;
}

}  // namespace

// --- Opening -------------------------------------------------------------------

// Binary both ways, no go-aheads, COM-PORT-OPTION offered, and the line's
// four settings asked for: a server that reports them all speaks RFC 2217.
HandleObject* open_rfc2217(const char* address) {
    int fd = connect_to(address);
    if (fd < 0) return nullptr;
    auto* s = new NetSerialObject;
    s->fd = fd;
    uint8_t out[64] = {TELNET_IAC, TELNET_WILL, TELNET_BINARY, TELNET_IAC, TELNET_DO,   TELNET_BINARY,
                       TELNET_IAC, TELNET_WILL, TELNET_SGA,    TELNET_IAC, TELNET_DO,   TELNET_SGA,
                       TELNET_IAC, TELNET_WILL, COM_PORT_OPTION};
    size_t n = 15;
    const uint8_t ask[4] = {0, 0, 0, 0};  // value 0: report what you have
    n += telnet_com_port_command(out + n, CPO_SET_BAUDRATE, ask, 4);
    for (uint8_t command : {CPO_SET_DATASIZE, CPO_SET_PARITY, CPO_SET_STOPSIZE})
        n += telnet_com_port_command(out + n, command, ask, 1);
    int64_t deadline = now_ms() + kOpeningMs;
    const uint8_t all = REPORTED_BAUD | REPORTED_DATASIZE | REPORTED_PARITY | REPORTED_STOPSIZE;
    if (s->send_raw(out, n, deadline) != n || !s->await_reports(all, deadline)) {
        std::string server = "the server at " + std::string(address);
        if (!server.empty() && server.back() == '/') server.pop_back();
        DWORD code = ERROR_GEN_FAILURE;
        std::string cause;
        if (s->aborted) code = ERROR_OPERATION_ABORTED;
        else if (s->gone)
            code = ERROR_ACCESS_DENIED, cause = server + " closed the connection before it reported the line: "
                                                         "its port may be in use by another client.";
        else if (s->telnet.com_port_refused)
            cause = server + " refused the COM port option: it is not an RFC 2217 port server.";
        else
            cause = server + " did not report the line within 2 s: it is not an RFC 2217 port server.";
        s->gone = true;  // no close handshake with a server that is not one
        s->close();
        delete s;
        known.forget();
        if (cause.empty()) SetLastError(code);
        else set_error_with_text(code, cause);
        return nullptr;
    }
    DCB& d = s->dcb;
    d.DCBlength = sizeof(DCB);
    d.fBinary = 1;
    d.ByteSize = 8;
    d.fDtrControl = DTR_CONTROL_ENABLE;  // a server raises DTR and RTS when it opens its device
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fTXContinueOnXoff = 1;
    s->take_reports(all);
    return s;
}

}  // namespace posix
