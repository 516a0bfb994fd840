// COM ports over termios. CreateFileA("COMn") arrives here as
// open_serial(n): the port is the one in RXMON_COM<n>, else /dev/ttyS<n-1>;
// CreateFileA("\\.\NAME") as open_serial_path(NAME), the name given on the
// command line. A device path is opened for this handle alone and switched
// to raw bytes, and its line settings are put back when it closes, as
// serial terminals do; rfc2217://HOST:PORT goes to the network port of
// net_serial.cpp. An open that fails leaves its cause in words beside the
// error code, for platform_port_failure.
//
// Map: the terminal's handle object; line settings between DCB and termios;
// ReadFile and WriteFile under COMMTIMEOUTS; the vanished device; port
// names; the causes of a failed open; opening; the comm calls (GetCommState, SetCommState,
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
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <new>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
    termios found{};  // the line as the open found it, put back at the close
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
    tcsetattr(fd, TCSANOW, &found);  // fails quietly on a device that is gone
    ioctl(fd, TIOCNXCL);  // the exclusive mark may outlive us on a device that stays open elsewhere
    return HandleObject::close();
}

// --- Port names ----------------------------------------------------------------

namespace {
bool is_rfc2217(const char* name) { return strncasecmp(name, "rfc2217://", 10) == 0; }

std::string format(const char* pattern, ...) {
    char text[1024];
    va_list a;
    va_start(a, pattern);
    vsnprintf(text, sizeof text, pattern, a);
    va_end(a);
    return text;
}

void copy_out(const std::string& text, char* out, int size) {
    if (size <= 0) return;
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    memcpy(out, text.data(), n);
    out[n] = 0;
}
}  // namespace

}  // namespace posix

// Any name with a slash is a device path; a name with "://" must be an
// rfc2217 address that parses; HOST:PORT alone lacks its scheme.
int platform_port_name(const char* name, char* why, int size) {
    std::string reason;
    const char* scheme_end = strstr(name, "://");
    if (scheme_end && !posix::is_rfc2217(name))
        reason = posix::format("%.*s:// is no scheme that rxmon knows: a network port begins with rfc2217://",
                               static_cast<int>(std::min<ptrdiff_t>(scheme_end - name, 40)), name);
    else if (scheme_end) posix::parse_address(name + 10, nullptr, nullptr, &reason);
    else if (strchr(name, '/') == nullptr && strchr(name, ':'))
        reason = posix::format("a network port needs its scheme: rfc2217://%s", name);
    else if (strchr(name, '/') == nullptr)
        reason = "a port is a COM port number (1 to 9), a device path or rfc2217://host:port";
    posix::copy_out(reason, why, size);
    return reason.empty() ? 1 : 0;
}

int platform_port_failure(DWORD code, char* out, int size) {
    std::string cause = posix::error_text(code);
    posix::copy_out(cause, out, size);
    return cause.empty() ? 0 : 1;
}

namespace posix {

// --- The causes of a failed open -------------------------------------------------

namespace {

// The serial devices that exist: adapters by their lasting names, then the
// kernel's; a built-in UART only where the kernel found one behind it.
std::string serial_devices() {
    std::string list;
    int count = 0;
    for (const char* pattern : {"/dev/serial/by-id/*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"}) {
        glob_t g{};
        if (glob(pattern, 0, nullptr, &g) == 0) {
            for (size_t i = 0; i < g.gl_pathc; ++i) {
                const char* path = g.gl_pathv[i];
                if (strncmp(path, "/dev/ttyS", 9) == 0) {
                    char type[16] = {};
                    FILE* f = fopen(format("/sys/class/tty/%s/type", path + 5).c_str(), "r");
                    bool uart = f && fgets(type, sizeof type, f) && atoi(type) != 0;
                    if (f) fclose(f);
                    if (!uart) continue;
                }
                if (++count <= 8) list += (list.empty() ? "" : ", ") + std::string(path);
            }
        }
        globfree(&g);
    }
    if (count == 0) return " No serial device is to be found here.";
    if (count > 8) list += format(" and %d more", count - 8);
    return " Serial devices here: " + list + ".";
}

std::string process_name(int pid) {
    char name[64] = {};
    FILE* comm = fopen(format("/proc/%d/comm", pid).c_str(), "r");
    if (comm && fgets(name, sizeof name, comm)) name[strcspn(name, "\n")] = 0;
    if (comm) fclose(comm);
    return format(" (pid %d, %s)", pid, name);
}

// The process that holds the device, as /proc shows it: " (pid N, NAME)",
// or nothing. The lock's holder first (the one that keeps us out), else the
// first other process with the device open.
std::string holder(const struct stat& device) {
    if (FILE* locks = fopen("/proc/locks", "r")) {
        char line[256];
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        int pid = 0;
        while (fgets(line, sizeof line, locks))
            if (sscanf(line, "%*d: FLOCK %*s %*s %d %x:%x:%lu", &pid, &major, &minor, &inode) == 4 &&
                makedev(major, minor) == device.st_dev && inode == device.st_ino && pid != getpid()) {
                fclose(locks);
                return process_name(pid);
            }
        fclose(locks);
    }
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return "";
    std::string found;
    while (dirent* e = readdir(proc)) {
        int pid = atoi(e->d_name);
        if (pid <= 0 || pid == getpid()) continue;
        std::string fds = format("/proc/%d/fd", pid);
        DIR* d = opendir(fds.c_str());
        if (d == nullptr) continue;
        while (dirent* f = readdir(d)) {
            struct stat st;
            if (f->d_name[0] != '.' && stat((fds + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                st.st_rdev == device.st_rdev) {
                found = process_name(pid);
                break;
            }
        }
        closedir(d);
        if (!found.empty()) break;
    }
    closedir(proc);
    return found;
}

// Sets the error code and the sentence that says why `path` did not open.
// By number, the sentences name the device; by name, the user sees it already.
void fail_open(const char* path, bool named, int err) {
    std::string it = named ? "it" : path;
    struct stat st{};
    bool exists = stat(path, &st) == 0;
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            set_error_with_text(ERROR_FILE_NOT_FOUND, format("%s does not exist.", it.c_str()) + serial_devices());
            return;
        case EACCES:
        case EPERM: {
            const group* g = exists ? getgrgid(st.st_gid) : nullptr;
            const passwd* user = getpwuid(geteuid());
            std::string who = user ? user->pw_name : getenv("USER") ? getenv("USER") : "$USER";
            if (g == nullptr || !(st.st_mode & S_IRGRP) || !(st.st_mode & S_IWGRP)) {
                const passwd* owner = exists ? getpwuid(st.st_uid) : nullptr;
                set_error_with_text(ERROR_ACCESS_DENIED,
                                    owner ? format("permission denied: only its owner, %s, may use %s.",
                                                   owner->pw_name, path)
                                          : std::string("permission denied."));
                return;
            }
            set_error_with_text(ERROR_ACCESS_DENIED,
                                format("permission denied. %s belongs to the group %s: add yourself with "
                                       "'sudo usermod -aG %s %s', then log in again.",
                                       path, g->gr_name, g->gr_name, who.c_str()));
            return;
        }
        case EBUSY:
        case EWOULDBLOCK:
            set_error_with_text(ERROR_ACCESS_DENIED, format("%s is in use by another program%s.", it.c_str(),
                                                            exists ? holder(st).c_str() : ""));
            return;
        case ENOTTY:
        case EISDIR:
            set_error_with_text(ERROR_NOT_SUPPORTED, format("%s is not a serial device.", it.c_str()));
            return;
        default:
            set_error_from_errno(err);
            set_error_with_text(GetLastError(), format("%s: %s.", named ? "the system says" : path, strerror(err)));
    }
}

}  // namespace

// --- Opening -----------------------------------------------------------------

HandleObject* open_serial(int number, DWORD access, DWORD creation) {
    char variable[32], fallback[32];
    snprintf(variable, sizeof variable, "RXMON_COM%d", number);
    snprintf(fallback, sizeof fallback, "/dev/ttyS%d", number - 1);
    const char* path = getenv(variable);
    if (path == nullptr || *path == 0) path = fallback;
    return open_serial_path(path, access, creation, false);
}

HandleObject* open_serial_path(const char* path, DWORD access, DWORD creation, bool named) {
    // Communication devices exist or do not: there is nothing to create.
    if (creation != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (is_rfc2217(path)) return open_rfc2217(path + 10);

    bool r = access & GENERIC_READ, w = access & GENERIC_WRITE;
    int mode = r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY;
    int fd;
    do fd = ::open(path, mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        fail_open(path, named, errno);
        return nullptr;
    }
    termios t;
    if (!isatty(fd) || tcgetattr(fd, &t) != 0) {
        ::close(fd);
        fail_open(path, named, ENOTTY);
        return nullptr;
    }
    // One handle at a time, as Windows gives a COM port. TIOCEXCL keeps out
    // other users' opens, but not root's; the lock keeps out every program
    // that asks for it, root's included, and this one's second open.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fail_open(path, named, EBUSY);
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    termios found = t;
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
        tcsetattr(fd, TCSANOW, &found);
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    s->fd = fd;
    s->found = found;
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
