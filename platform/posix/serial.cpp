// COM ports over termios. CreateFileA("COMn") or ("\\.\COMn") arrives here
// as open_serial(n): the port is the name bound to n at start-up, else the
// one in RXMON_COM<n>, else /dev/ttyS<n-1>. A device path is opened for this
// handle alone and switched to raw bytes; rfc2217://HOST:PORT goes to the
// network port of net_serial.cpp.
//
// Map: the terminal's handle object; line settings between DCB and termios;
// ReadFile and WriteFile under COMMTIMEOUTS; the vanished device; port
// names; opening; the comm calls (GetCommState, SetCommState,
// SetCommTimeouts, ClearCommError), which reach either kind of handle.
//
// Limits of the emulation:
// - Rates are those termios names (50 to 4000000 baud); the Windows-only
//   rates 14400, 56000, 128000 and 256000 are refused.
// - DSR flow control, DSR sensitivity, error-character replacement, null
//   stripping, XonLim/XoffLim and DTR handshaking have no termios
//   counterpart: the DCB keeps them, the line ignores them. RTS toggling is
//   plain RTS on.
// - A pseudo-terminal carries 8 data bits without parity only: other
//   framings are refused there.
// - A pseudo-terminal has no modem lines, so DTR and RTS changes fail there
//   silently; no caller can tell the difference.
// - A write returns once the driver has taken the bytes, not when they have
//   left the wire.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include "platform/posix/comm.h"

namespace posix {

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

ReadWait::ReadWait(const COMMTIMEOUTS& t, DWORD count) {
    at_once = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
              t.ReadTotalTimeoutConstant == 0;
    first_byte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                 t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    start = last = now_ms();
    if (first_byte) total = t.ReadTotalTimeoutConstant;
    else if (t.ReadTotalTimeoutMultiplier || t.ReadTotalTimeoutConstant)
        total = int64_t(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant;
    interval = t.ReadIntervalTimeout == 0 || t.ReadIntervalTimeout == MAXDWORD ? -1 : t.ReadIntervalTimeout;
}

int64_t ReadWait::left(DWORD done) const {
    if (at_once || (first_byte && done > 0)) return 0;
    // Without either limit the read waits for its whole count, as on Windows.
    int64_t now = now_ms(), limit = -1;
    if (total >= 0) limit = std::max<int64_t>(start + total - now, 0);
    if (interval >= 0 && done > 0) {
        int64_t gap = std::max<int64_t>(last + interval - now, 0);
        limit = limit < 0 ? gap : std::min(limit, gap);
    }
    return limit;
}

int CommObject::wait(short events, int64_t ms) {
    struct pollfd p = {fd, events, 0};
    int r;
    do r = poll(&p, 1, ms < 0 ? -1 : static_cast<int>(std::min<int64_t>(ms, INT_MAX)));
    while (r < 0 && errno == EINTR);
    if (r < 0 || (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))) return -1;
    return r > 0 ? 1 : 0;
}

namespace {

struct Rate {
    DWORD baud;
    speed_t code;
};
const Rate kRates[] = {
    {50, B50},       {75, B75},       {110, B110},       {134, B134},       {150, B150},     {200, B200},
    {300, B300},     {600, B600},     {1200, B1200},     {1800, B1800},     {2400, B2400},   {4800, B4800},
    {9600, B9600},   {19200, B19200}, {38400, B38400},   {57600, B57600},   {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

bool speed_of(DWORD baud, speed_t* code) {
    for (const Rate& r : kRates)
        if (r.baud == baud) {
            *code = r.code;
            return true;
        }
    return false;
}

DWORD baud_of(speed_t code) {
    for (const Rate& r : kRates)
        if (r.code == code) return r.baud;
    return 0;
}

// dcb holds the fields that termios cannot.
struct SerialObject : CommObject {
#ifdef TIOCGICOUNT
    serial_icounter_struct counts{};  // line-error counters at the last ClearCommError
    bool counts_known = false;
#endif

    BOOL read(void* buffer, DWORD count, DWORD* done) override;
    BOOL write(const void* buffer, DWORD count, DWORD* done) override;
    BOOL close() override;
    BOOL get_state(DCB* out) override;
    BOOL set_state(const DCB& wanted) override;
    BOOL clear_error(DWORD* errors, COMSTAT* status) override;
    // A hung-up line: the far end of a pseudo-terminal closed, or a USB
    // adapter was pulled out.
    bool hung_up() {
        struct pollfd p = {fd, POLLIN, 0};
        int r;
        do r = poll(&p, 1, 0);
        while (r < 0 && errno == EINTR);
        return r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
    }
};

CommObject* comm_of(HANDLE h) {
    HandleObject* o = object_of(h);
    if (o == nullptr) return nullptr;
    auto* s = dynamic_cast<CommObject*>(o);
    if (s == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return s;
}

}  // namespace

// Windows' own checks of a DCB's framing, for either kind of port.
bool framing_valid(const DCB& d) {
    bool valid = d.ByteSize >= 5 && d.ByteSize <= 8 && d.Parity <= SPACEPARITY && d.StopBits <= TWOSTOPBITS;
    // Equal XON and XOFF characters only matter when XON/XOFF is used.
    if ((d.fOutX || d.fInX) && d.XonChar == d.XoffChar) valid = false;
    // 1.5 stop bits only with 5 data bits, 2 stop bits never with 5.
    if (d.StopBits == ONE5STOPBITS && d.ByteSize != 5) valid = false;
    if (d.StopBits == TWOSTOPBITS && d.ByteSize == 5) valid = false;
    return valid;
}

namespace {

// Raw bytes both ways, whatever the line settings: no echo, no line
// editing, no signals, no translation of CR or LF, and no XON/XOFF until a
// DCB asks for it (a terminal's default would swallow bytes 17 and 19).
void make_raw(termios* t) {
    t->c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IXON | IXOFF);
    t->c_oflag &= ~tcflag_t(OPOST);
    t->c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t->c_cflag |= CLOCAL | CREAD;
    // With O_NONBLOCK, VMIN 1 makes an empty line EAGAIN and a hung-up one
    // end of file; VMIN 0 would give 0 for both.
    t->c_cc[VMIN] = 1;
    t->c_cc[VTIME] = 0;
}

void set_modem_line(int fd, int line, bool on) {
    int bits = line;
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);  // fails on a pseudo-terminal: no lines to set
}

}  // namespace

// --- ReadFile and WriteFile under COMMTIMEOUTS -----------------------------

BOOL SerialObject::read(void* buffer, DWORD count, DWORD* done) {
    *done = 0;
    if (gone) return vanished();
    ReadWait limits(timeouts, count);
    auto* bytes = static_cast<char*>(buffer);
    while (*done < count) {
        ssize_t n = ::read(fd, bytes + *done, count - *done);
        if (n > 0) {
            *done += static_cast<DWORD>(n);
            limits.got_bytes();
            if (limits.first_byte) break;
            continue;
        }
        // End of file on a terminal is a hang-up: a read that finds nothing
        // where the line said there was something means the device is gone.
        if (n == 0) return *done ? TRUE : vanished();
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            int err = errno;
            set_error_from_errno(err);
            gone = err == EIO || err == ENXIO || err == ENODEV;
            return *done ? TRUE : FALSE;
        }
        int64_t limit = limits.left(*done);
        if (limit == 0) break;
        int r = wait(POLLIN, limit);
        if (r < 0) return *done ? TRUE : vanished();
        if (r == 0) break;
    }
    return TRUE;
}

// The total write time-out (multiplier × bytes + constant) bounds the whole
// call; when it runs out the call succeeds with the short count.
BOOL SerialObject::write(const void* buffer, DWORD count, DWORD* done) {
    *done = 0;
    if (gone) return vanished();
    int64_t deadline = write_deadline(count);
    const char* bytes = static_cast<const char*>(buffer);
    while (*done < count) {
        ssize_t n = ::write(fd, bytes + *done, count - *done);
        if (n > 0) {
            *done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            int err = errno;
            set_error_from_errno(err);
            gone = err == EIO || err == ENXIO || err == ENODEV;
            return FALSE;
        }
        int64_t left = deadline < 0 ? -1 : deadline - now_ms();
        if (deadline >= 0 && left <= 0) break;
        int r = wait(POLLOUT, left);
        if (r < 0) return vanished();
        if (r == 0) break;
    }
    return TRUE;
}

BOOL SerialObject::close() {
    if (fd < 0) return TRUE;
    ioctl(fd, TIOCNXCL);  // the exclusive mark may outlive us on a device that stays open elsewhere
    return HandleObject::close();
}

// --- Port names ----------------------------------------------------------------

namespace {
// A port named on the command line, and the COM number it stands behind.
char bound_name[256];
int bound_number = 0;

bool is_rfc2217(const char* name) { return strncasecmp(name, "rfc2217://", 10) == 0; }
}  // namespace

}  // namespace posix

// Any name with a slash: a device path, or a network address such as
// rfc2217://HOST:PORT. COM 1 stands for it, the only port rxmon opens.
int platform_port_number(const char* name) {
    if (strchr(name, '/') == nullptr || strlen(name) >= sizeof posix::bound_name) return 0;
    strcpy(posix::bound_name, name);
    posix::bound_number = 1;
    return posix::bound_number;
}

namespace posix {

// --- Opening -----------------------------------------------------------------

HandleObject* open_serial(int number, DWORD access, DWORD creation) {
    // Communication devices exist or do not: there is nothing to create.
    if (creation != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    char variable[32], fallback[32];
    snprintf(variable, sizeof variable, "RXMON_COM%d", number);
    snprintf(fallback, sizeof fallback, "/dev/ttyS%d", number - 1);
    const char* path = number == bound_number ? bound_name : getenv(variable);
    if (path == nullptr || *path == 0) path = fallback;
    if (is_rfc2217(path)) return open_rfc2217(path + 10);

    bool r = access & GENERIC_READ, w = access & GENERIC_WRITE;
    int mode = r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY;
    int fd;
    do fd = ::open(path, mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EBUSY) SetLastError(ERROR_ACCESS_DENIED);
        else set_error_from_errno(errno);
        return nullptr;
    }
    termios t;
    if (!isatty(fd) || tcgetattr(fd, &t) != 0) {
        ::close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    // One handle at a time, as Windows gives a COM port. TIOCEXCL keeps out
    // other users' opens, but not root's; the lock keeps out every program
    // that asks for it, root's included, and this one's second open.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    make_raw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        int err = errno;
        ::close(fd);
        set_error_from_errno(err);
        return nullptr;
    }
    tcflush(fd, TCIOFLUSH);
    auto* s = new (std::nothrow) SerialObject;
    if (s == nullptr) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    s->fd = fd;
    DCB& d = s->dcb;
    d.DCBlength = sizeof(DCB);
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;  // opening a terminal raises DTR and RTS
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fTXContinueOnXoff = 1;
    d.XonLim = 2048;
    d.XoffLim = 512;
    return s;
}

}  // namespace posix

namespace posix {

// --- The comm calls --------------------------------------------------------------

BOOL SerialObject::get_state(DCB* out) {
    if (gone || hung_up()) return vanished();
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        set_error_from_errno(errno);
        return FALSE;
    }
    DCB d = dcb;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = baud_of(cfgetospeed(&t));
    d.fBinary = 1;
    switch (t.c_cflag & CSIZE) {
        case CS5: d.ByteSize = 5; break;
        case CS6: d.ByteSize = 6; break;
        case CS7: d.ByteSize = 7; break;
        default: d.ByteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB)) d.Parity = NOPARITY;
#ifdef CMSPAR
    else if (t.c_cflag & CMSPAR) d.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
#endif
    else d.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    d.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    if (!(t.c_cflag & CSTOPB)) d.StopBits = ONESTOPBIT;
    else d.StopBits = d.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    d.fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
    if (t.c_cflag & CRTSCTS) d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    d.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    d.XonChar = static_cast<char>(t.c_cc[VSTART]);
    d.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    *out = d;
    return TRUE;
}

// Checks the whole record before changing anything, as Windows does, so a
// refused setting leaves the line as it was.
BOOL SerialObject::set_state(const DCB& d) {
    if (gone || hung_up()) return vanished();
    speed_t speed = B0;
    if (!speed_of(d.BaudRate, &speed) || !framing_valid(d)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
#ifndef CMSPAR
    if (d.Parity == MARKPARITY || d.Parity == SPACEPARITY) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
#endif
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        set_error_from_errno(errno);
        return FALSE;
    }
    make_raw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcflag_t size = d.ByteSize == 5 ? CS5 : d.ByteSize == 6 ? CS6 : d.ByteSize == 7 ? CS7 : CS8;
    t.c_cflag = (t.c_cflag & ~tcflag_t(CSIZE)) | size;
    t.c_cflag &= ~tcflag_t(PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~tcflag_t(CMSPAR);
#endif
    switch (d.Parity) {
        case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
        case EVENPARITY: t.c_cflag |= PARENB; break;
#ifdef CMSPAR
        case MARKPARITY: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
#endif
        default: break;
    }
    if (d.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
    if (d.fOutxCtsFlow || d.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~tcflag_t(INPCK | IGNPAR | IXON | IXOFF);
    if (d.fParity) t.c_iflag |= INPCK;
    if (d.fOutX) t.c_iflag |= IXON;
    if (d.fInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(d.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(d.XoffChar);
    termios before;
    tcgetattr(fd, &before);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        set_error_from_errno(errno);
        return FALSE;
    }
    // A driver may quietly keep what it cannot do (a pseudo-terminal always
    // carries 8 bits without parity); then the whole change is undone and
    // refused, as a Windows driver refuses it.
    const tcflag_t framing = CSIZE | PARENB | PARODD | CSTOPB
#ifdef CMSPAR
                             | CMSPAR
#endif
        ;
    termios now;
    if (tcgetattr(fd, &now) != 0 || (now.c_cflag & framing) != (t.c_cflag & framing) ||
        cfgetospeed(&now) != speed) {
        tcsetattr(fd, TCSANOW, &before);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    set_modem_line(fd, TIOCM_DTR, d.fDtrControl != DTR_CONTROL_DISABLE);
    if (d.fRtsControl != RTS_CONTROL_HANDSHAKE)
        set_modem_line(fd, TIOCM_RTS, d.fRtsControl != RTS_CONTROL_DISABLE);
    dcb = d;
    return TRUE;
}

BOOL SerialObject::clear_error(DWORD* errors, COMSTAT* status) {
    if (gone || hung_up()) return vanished();
    int in = 0, out = 0;
    if (ioctl(fd, FIONREAD, &in) != 0) {
        int err = errno;
        set_error_from_errno(err);
        if (err == EIO || err == ENXIO || err == ENODEV) gone = true;
        return FALSE;
    }
    if (ioctl(fd, TIOCOUTQ, &out) != 0) out = 0;
    DWORD flags = 0;
#ifdef TIOCGICOUNT
    // Line errors come from the driver's counters where it keeps them (a
    // real UART does, a pseudo-terminal has none).
    serial_icounter_struct c{};
    if (ioctl(fd, TIOCGICOUNT, &c) == 0) {
        if (counts_known) {
            if (c.frame != counts.frame) flags |= CE_FRAME;
            if (c.parity != counts.parity) flags |= CE_RXPARITY;
            if (c.overrun != counts.overrun) flags |= CE_OVERRUN;
            if (c.buf_overrun != counts.buf_overrun) flags |= CE_RXOVER;
            if (c.brk != counts.brk) flags |= CE_BREAK;
        }
        counts = c;
        counts_known = true;
    }
#endif
    if (errors) *errors = flags;
    if (status) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(std::max(in, 0));
        status->cbOutQue = static_cast<DWORD>(std::max(out, 0));
    }
    return TRUE;
}

}  // namespace posix

using posix::comm_of;

extern "C" {

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb) {
    posix::CommObject* c = comm_of(h);
    return c ? c->get_state(dcb) : FALSE;
}

BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb) {
    posix::CommObject* c = comm_of(h);
    return c ? c->set_state(*dcb) : FALSE;
}

BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    posix::CommObject* c = comm_of(h);
    if (c == nullptr) return FALSE;
    if (c->gone) return c->vanished();
    c->timeouts = *timeouts;
    return TRUE;
}

BOOL WINAPI ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT status) {
    posix::CommObject* c = comm_of(h);
    return c ? c->clear_error(errors, status) : FALSE;
}

}  // extern "C"
