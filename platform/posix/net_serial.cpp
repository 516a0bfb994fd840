// Network serial ports: rfc2217://HOST:PORT is a TCP connection to a port
// server (ser2net, for one) that speaks telnet with COM-PORT-OPTION. It is a
// second kind of serial handle beside the terminal line, behind the same
// ReadFile, WriteFile and comm calls.
//
// Map: the connection's handle object; receiving, through the decoder of
// telnet.cpp, into a queue of serial data; sending with IAC doubled;
// ReadFile and WriteFile under COMMTIMEOUTS; the line settings, set and
// confirmed by the server; opening.
//
// Limits of the emulation:
// - The server sets the line. Flow control, the XON/XOFF characters and
//   the error characters stay in the DCB and do not reach it.
// - DTR and RTS are sent and not awaited: a server whose device has no
//   modem lines (ser2net on a pseudo-terminal) never answers them.
// - cbOutQue is 0: bytes the kernel has not sent yet are not counted.
// - Line errors (parity, framing) are not reported; only an overrun of the
//   queue is (CE_RXOVER).
// - A host name goes through the system's resolver and its time limits.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/posix/comm.h"
#include "platform/posix/telnet.h"

namespace posix {

namespace {

constexpr int64_t kConnectMs = 3000;    // to connect to the server
constexpr int64_t kNegotiateMs = 2000;  // for the server to report the line settings asked for
constexpr size_t kQueueBytes = 4096;    // received serial data, as a driver's input queue

struct NetSerialObject : CommObject {
    TelnetState telnet;
    uint8_t queue[kQueueBytes];
    size_t queued = 0;
    bool overrun = false;  // data was lost because the queue was full

    BOOL read(void* buffer, DWORD count, DWORD* done) override;
    BOOL write(const void* buffer, DWORD count, DWORD* done) override;
    BOOL get_state(DCB* out) override;
    BOOL set_state(const DCB& wanted) override;
    BOOL clear_error(DWORD* errors, COMSTAT* status) override;
    BOOL close() override;

    bool receive();
    size_t send_raw(const uint8_t* bytes, size_t count, int64_t deadline);
    bool await_reports(uint8_t bits, int64_t deadline);
    void take_reports();
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
        if (answer) send_raw(reply, answer, now_ms() + kNegotiateMs);
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
        int64_t left = deadline < 0 ? -1 : deadline - now_ms();
        if (deadline >= 0 && left <= 0) break;
        if (wait(POLLOUT, left) < 0) gone = true;
    }
    return sent;
}

// Waits until the server has reported every setting in `bits`.
bool NetSerialObject::await_reports(uint8_t bits, int64_t deadline) {
    for (;;) {
        if (!receive() || telnet.com_port_refused) return false;
        if ((telnet.reported & bits) == bits) return true;
        int64_t left = deadline - now_ms();
        if (left <= 0 || wait(POLLIN, left) < 0) return false;
    }
}

// The DCB shows the line as the server reported it.
void NetSerialObject::take_reports() {
    dcb.BaudRate = telnet.baud;
    if (telnet.datasize >= 5 && telnet.datasize <= 8) dcb.ByteSize = telnet.datasize;
    if (telnet.parity >= 1 && telnet.parity <= 5) dcb.Parity = static_cast<BYTE>(telnet.parity - 1);
    if (telnet.stopsize == 1) dcb.StopBits = ONESTOPBIT;
    if (telnet.stopsize == 2) dcb.StopBits = TWOSTOPBITS;
    if (telnet.stopsize == 3) dcb.StopBits = ONE5STOPBITS;
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
        if (limit == 0 || wait(POLLIN, limit) == 0) break;
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
            if (at + width > sent && send_raw(wire + sent, 1, now_ms() + kNegotiateMs) != 1) break;
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

// Sends what differs from the server's last report and waits until the
// server has reported each of those settings again: it is the server that
// says what the line now runs at.
BOOL NetSerialObject::set_state(const DCB& d) {
    if (gone) return vanished();
    if (d.BaudRate == 0 || !framing_valid(d)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint8_t stopsize = d.StopBits == ONESTOPBIT ? 1 : d.StopBits == TWOSTOPBITS ? 2 : 3;
    uint8_t parity = static_cast<uint8_t>(d.Parity + 1);
    uint8_t out[64], baud[4] = {uint8_t(d.BaudRate >> 24), uint8_t(d.BaudRate >> 16), uint8_t(d.BaudRate >> 8),
                                uint8_t(d.BaudRate)};
    size_t n = 0;
    uint8_t asked = 0;
    if (telnet.baud != d.BaudRate)
        n += telnet_com_port_command(out + n, CPO_SET_BAUDRATE, baud, 4), asked |= REPORTED_BAUD;
    if (telnet.datasize != d.ByteSize)
        n += telnet_com_port_command(out + n, CPO_SET_DATASIZE, &d.ByteSize, 1), asked |= REPORTED_DATASIZE;
    if (telnet.parity != parity)
        n += telnet_com_port_command(out + n, CPO_SET_PARITY, &parity, 1), asked |= REPORTED_PARITY;
    if (telnet.stopsize != stopsize)
        n += telnet_com_port_command(out + n, CPO_SET_STOPSIZE, &stopsize, 1), asked |= REPORTED_STOPSIZE;
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
    int64_t deadline = now_ms() + kNegotiateMs;
    if (send_raw(out, n, deadline) != n || !await_reports(asked, deadline)) {
        if (gone) return vanished();
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    dcb = d;
    take_reports();
    if (telnet.baud != d.BaudRate || telnet.datasize != d.ByteSize || telnet.parity != parity ||
        telnet.stopsize != stopsize) {
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
// close waits, a bounded time, for the server to close its side first.
BOOL NetSerialObject::close() {
    if (fd >= 0 && !gone && shutdown(fd, SHUT_WR) == 0) {
        int64_t deadline = now_ms() + kNegotiateMs / 4;
        uint8_t discard[512];
        for (int64_t left = kNegotiateMs / 4; left > 0 && wait(POLLIN, left) > 0; left = deadline - now_ms()) {
            ssize_t n = recv(fd, discard, sizeof discard, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
        }
    }
    return HandleObject::close();
}

// --- Opening -------------------------------------------------------------------

namespace {

// A connected socket within kConnectMs, or -1 with the last error set.
int connect_to(const char* address) {
    char host[256];
    const char* colon = strrchr(address, ':');
    size_t length = colon ? static_cast<size_t>(colon - address) : 0;
    char* end = nullptr;
    long port = colon ? strtol(colon + 1, &end, 10) : 0;
    if (length == 0 || length >= sizeof host || port < 1 || port > 65535 || (*end != 0 && strcmp(end, "/") != 0)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return -1;
    }
    memcpy(host, address, length);
    host[length] = 0;
    // [::1]:2000: an IPv6 address in brackets.
    if (host[0] == '[' && host[length - 1] == ']') {
        host[length - 1] = 0;
        memmove(host, host + 1, length - 1);
    }
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    char service[8];
    snprintf(service, sizeof service, "%ld", port);
    if (getaddrinfo(host, service, &hints, &found) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return -1;
    }
    int fd = -1, err = ETIMEDOUT;
    int64_t deadline = now_ms() + kConnectMs;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int r = connect(fd, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            pollfd p = {fd, POLLOUT, 0};
            int64_t left = deadline - now_ms();
            do r = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
            while (r < 0 && errno == EINTR);
            socklen_t size = sizeof err;
            if (r == 0) err = ETIMEDOUT;
            else if (r < 0) err = errno;
            else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0) err = errno;
            r = r > 0 && err == 0 ? 0 : -1;
        } else if (r != 0) {
            err = errno;
        }
        if (r != 0) close(fd), fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0) {
        SetLastError(err == ECONNREFUSED ? ERROR_FILE_NOT_FOUND : ERROR_GEN_FAILURE);
        return -1;
    }
    // Commands are a few bytes each and wait for their answer.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

}  // namespace

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
    int64_t deadline = now_ms() + kNegotiateMs;
    const uint8_t all = REPORTED_BAUD | REPORTED_DATASIZE | REPORTED_PARITY | REPORTED_STOPSIZE;
    if (s->send_raw(out, n, deadline) != n || !s->await_reports(all, deadline)) {
        s->close();
        delete s;
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    DCB& d = s->dcb;
    d.DCBlength = sizeof(DCB);
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;  // a server raises DTR and RTS when it opens its device
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fTXContinueOnXoff = 1;
    s->take_reports();
    return s;
}

}  // namespace posix
