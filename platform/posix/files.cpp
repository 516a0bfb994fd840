// Files, standard handles, paths and the command line over POSIX descriptors.
//
// Map: handle objects and errors; standard handles; CreateFileA and the
// device names it hands on; Read/WriteFile, CloseHandle, SetFilePointer,
// SetEndOfFile, GetFileInformationByHandle; GetFullPathNameA and
// GetCommandLineA.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace posix {

namespace {
thread_local DWORD last_error = 0;
// Where a failure has a cause more precise than its code (which terminal
// setting is missing), FormatMessageA gives it; any later error forgets it.
thread_local std::string last_error_text;

// A write to a closed pipe must come back short, so that the caller can
// report it; the default SIGPIPE would end the process without a word.
struct IgnoreSigpipe {
    IgnoreSigpipe() { signal(SIGPIPE, SIG_IGN); }
} ignore_sigpipe;

struct FileObject : HandleObject {
    explicit FileObject(int descriptor) { fd = descriptor; }
};

// The standard handles are never deleted: CloseHandle on one closes the
// descriptor, and a later GetStdHandle reports it gone.
struct StdObject : HandleObject {
    explicit StdObject(int descriptor) { fd = descriptor; }
    BOOL write(const void* buffer, DWORD count, DWORD* done) override {
        if (console_holds_output(fd, buffer, count, done)) {
            if (*done == count) return TRUE;
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        return HandleObject::write(buffer, count, done);
    }
    BOOL close() override {
        int r = ::close(fd);
        fd = -1;
        return r == 0;
    }
};
StdObject std_objects[3] = {StdObject(0), StdObject(1), StdObject(2)};
}  // namespace

void set_error_from_errno(int err) {
    DWORD code;
    switch (err) {
        case ENOENT: code = ERROR_FILE_NOT_FOUND; break;
        case ENOTDIR: code = ERROR_PATH_NOT_FOUND; break;
        case EACCES:
        case EPERM: code = ERROR_ACCESS_DENIED; break;
        case EBADF: code = ERROR_INVALID_HANDLE; break;
        case ENOMEM: code = ERROR_NOT_ENOUGH_MEMORY; break;
        case EBUSY: code = ERROR_SHARING_VIOLATION; break;
        case EPIPE: code = ERROR_NO_DATA; break;
        case EINVAL: code = ERROR_INVALID_PARAMETER; break;
        case ENXIO:
        case ENODEV:
        case EIO: code = ERROR_DEVICE_NOT_CONNECTED; break;
        case ENOSPC: code = ERROR_DISK_FULL; break;
        default: code = ERROR_GEN_FAILURE; break;
    }
    // The system's own words for FormatMessageA: the code alone is coarser.
    set_error_with_text(code, std::string(strerror(err)) + ".");
}

BOOL HandleObject::read(void* buffer, DWORD count, DWORD* done) {
    for (;;) {
        ssize_t n = ::read(fd, buffer, count);
        if (n >= 0) {
            *done = static_cast<DWORD>(n);
            return TRUE;
        }
        if (errno != EINTR) {
            set_error_from_errno(errno);
            return FALSE;
        }
    }
}

BOOL HandleObject::write(const void* buffer, DWORD count, DWORD* done) {
    const char* p = static_cast<const char*>(buffer);
    DWORD written = 0;
    while (written < count) {
        ssize_t n = ::write(fd, p + written, count - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *done = written;
            // Under PIPE_NOWAIT a pipe that stays full has a reader that
            // stopped reading.
            if (n < 0 && errno == EAGAIN) set_error_with_text(ERROR_SEM_TIMEOUT, "the reader has stalled.");
            else set_error_from_errno(n < 0 ? errno : EIO);
            return FALSE;
        }
        written += static_cast<DWORD>(n);
    }
    *done = written;
    return TRUE;
}

DWORD HandleObject::file_type() {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        set_error_from_errno(errno);
        return FILE_TYPE_UNKNOWN;
    }
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode)) return FILE_TYPE_DISK;
    if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_UNKNOWN;
}

BOOL HandleObject::close() {
    if (fd < 0) return TRUE;
    int r = ::close(fd);
    fd = -1;
    if (r != 0 && errno != EINTR) {
        set_error_from_errno(errno);
        return FALSE;
    }
    return TRUE;
}

void set_error_with_text(DWORD code, const std::string& text) {
    SetLastError(code);
    last_error_text = text;
}

std::string error_text(DWORD code) { return code == last_error ? last_error_text : std::string(); }

}  // namespace posix

using posix::HandleObject;
using posix::object_of;

extern "C" {

DWORD WINAPI GetLastError(void) { return posix::last_error; }
void WINAPI SetLastError(DWORD code) {
    posix::last_error = code;
    posix::last_error_text.clear();
}

// The system's texts are Windows' own; here there is only the cause that a
// failure of this thread left with its code.
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD code, DWORD, LPSTR buffer, DWORD size, va_list*) {
    const std::string& text = posix::last_error_text;
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || code != posix::last_error || text.empty()) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    if (text.size() >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

HANDLE WINAPI GetStdHandle(DWORD which) {
    int fd;
    if (which == STD_INPUT_HANDLE) fd = 0;
    else if (which == STD_OUTPUT_HANDLE) fd = 1;
    else if (which == STD_ERROR_HANDLE) fd = 2;
    else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Windows gives null for a process started without that handle.
    if (fcntl(fd, F_GETFD) < 0) return nullptr;
    static const HANDLE handles[3] = {posix::handle_of(&posix::std_objects[0], true),
                                      posix::handle_of(&posix::std_objects[1], true),
                                      posix::handle_of(&posix::std_objects[2], true)};
    posix::std_objects[fd].fd = fd;
    return handles[fd];
}

DWORD WINAPI GetFileType(HANDLE h) {
    HandleObject* o = object_of(h);
    return o ? o->file_type() : FILE_TYPE_UNKNOWN;
}

// Names on Windows are case-blind and the COM form may carry the \\.\ prefix.
static int com_number(const char* name) {
    if (strncmp(name, "\\\\.\\", 4) == 0) name += 4;
    if (strncasecmp(name, "COM", 3) != 0) return 0;
    name += 3;
    int n = 0;
    if (*name < '1' || *name > '9') return 0;
    while (*name >= '0' && *name <= '9') {
        n = n * 10 + (*name++ - '0');
        if (n > 255) return 0;
    }
    if (*name == ':') name++;
    return *name == 0 ? n : 0;
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD creation, DWORD flags, HANDLE template_file) {
    (void)share, (void)security, (void)flags, (void)template_file;
    if (name == nullptr || *name == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HandleObject* o = nullptr;
    if (strcasecmp(name, "CONOUT$") == 0) {
        o = posix::open_console_output(access);
    } else if (strcasecmp(name, "CONIN$") == 0) {
        o = posix::open_console_input(access);
    } else if (int n = com_number(name)) {
        o = posix::open_serial(n, access, creation);
    } else if (strncmp(name, "\\\\.\\", 4) == 0) {
        // The device namespace, as Windows' \\.\COM10: here any port's name.
        o = posix::open_serial_path(name + 4, access, creation, true);
    } else {
        int mode;
        bool r = access & GENERIC_READ, w = access & (GENERIC_WRITE | FILE_APPEND_DATA);
        mode = r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY;
        // Appending alone: every write lands at the end, whoever else writes.
        if ((access & FILE_APPEND_DATA) && !(access & GENERIC_WRITE)) mode |= O_APPEND;
        switch (creation) {
            case CREATE_NEW: mode |= O_CREAT | O_EXCL; break;
            case CREATE_ALWAYS: mode |= O_CREAT | O_TRUNC; break;
            case OPEN_ALWAYS: mode |= O_CREAT; break;
            case TRUNCATE_EXISTING: mode |= O_TRUNC; break;
            case OPEN_EXISTING: break;
            default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
        }
        // No open waits, as on Windows: a pipe without a reader, or without
        // a writer, would hold the program (and its ESC) for as long as none
        // comes. Reads and writes wait again, as Windows' do, unless
        // SetNamedPipeHandleState says otherwise.
        int fd;
        do fd = ::open(name, mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
        while (fd < 0 && errno == EINTR);
        struct stat st;
        if (fd < 0 && errno == ENXIO && stat(name, &st) == 0 && S_ISFIFO(st.st_mode)) {
            posix::set_error_with_text(ERROR_PIPE_NOT_CONNECTED, "no program reads this pipe.");
            return INVALID_HANDLE_VALUE;
        }
        if (fd < 0) {
            posix::set_error_from_errno(errno);
            return INVALID_HANDLE_VALUE;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        o = new (std::nothrow) posix::FileObject(fd);
        if (o == nullptr) {
            ::close(fd);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    if (o == nullptr) return INVALID_HANDLE_VALUE;
    HANDLE h = posix::handle_of(o);
    if (h == INVALID_HANDLE_VALUE) {
        o->close();
        o->release_handle();
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    }
    return h;
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
    (void)overlapped;
    DWORD local = 0;
    if (done == nullptr) done = &local;
    *done = 0;
    HandleObject* o = object_of(h);
    return o ? o->read(buffer, count, done) : FALSE;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
    (void)overlapped;
    DWORD local = 0;
    if (done == nullptr) done = &local;
    *done = 0;
    HandleObject* o = object_of(h);
    return o ? o->write(buffer, count, done) : FALSE;
}

// A standard handle stays: closing it closes the descriptor, as above.
BOOL WINAPI CloseHandle(HANDLE h) {
    bool permanent = false;
    HandleObject* o = posix::handle_close(h, &permanent);
    if (o == nullptr) return FALSE;
    BOOL ok = o->close();
    if (!permanent) o->release_handle();
    return ok;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG distance_high, DWORD method) {
    HandleObject* o = object_of(h);
    if (o == nullptr) return INVALID_SET_FILE_POINTER;
    int64_t offset = distance_high ? (int64_t(*distance_high) << 32) | uint32_t(distance) : int64_t(distance);
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_END ? SEEK_END : SEEK_CUR;
    off_t pos = lseek(o->fd, static_cast<off_t>(offset), whence);
    if (pos < 0) {
        posix::set_error_from_errno(errno);
        return INVALID_SET_FILE_POINTER;
    }
    if (distance_high) *distance_high = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(pos);
}

BOOL WINAPI SetEndOfFile(HANDLE h) {
    HandleObject* o = object_of(h);
    if (o == nullptr) return FALSE;
    off_t at = lseek(o->fd, 0, SEEK_CUR);
    if (at < 0 || ftruncate(o->fd, at) != 0) {
        posix::set_error_from_errno(errno);
        return FALSE;
    }
    return TRUE;
}

// Only the wait mode: PIPE_NOWAIT is a descriptor that does not block.
BOOL WINAPI SetNamedPipeHandleState(HANDLE h, LPDWORD mode, LPDWORD max_collection, LPDWORD timeout) {
    HandleObject* o = object_of(h);
    if (o == nullptr) return FALSE;
    if (o->file_type() != FILE_TYPE_PIPE || max_collection || timeout) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int flags = fcntl(o->fd, F_GETFL);
    if (mode) flags = *mode & PIPE_NOWAIT ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    if (flags < 0 || fcntl(o->fd, F_SETFL, flags) != 0) {
        posix::set_error_from_errno(errno);
        return FALSE;
    }
    return TRUE;
}

// What tells files apart: the device for the volume, the inode for the
// index, and the count of links (0 once deleted). Attributes and times are
// not kept: nothing here reads them.
BOOL WINAPI GetFileInformationByHandle(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
    HandleObject* o = object_of(h);
    struct stat st;
    if (o == nullptr) return FALSE;
    if (fstat(o->fd, &st) != 0) {
        posix::set_error_from_errno(errno);
        return FALSE;
    }
    *info = BY_HANDLE_FILE_INFORMATION{};
    info->dwFileAttributes = S_ISDIR(st.st_mode) ? 0x10 : FILE_ATTRIBUTE_NORMAL;
    info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev ^ (uint64_t(st.st_dev) >> 32));
    info->nFileSizeHigh = static_cast<DWORD>(uint64_t(st.st_size) >> 32);
    info->nFileSizeLow = static_cast<DWORD>(st.st_size);
    info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    info->nFileIndexHigh = static_cast<DWORD>(uint64_t(st.st_ino) >> 32);
    info->nFileIndexLow = static_cast<DWORD>(st.st_ino);
    return TRUE;
}

// Like Windows, the path need not exist: a relative name is joined to the
// working directory and "." and ".." are folded away textually. Out of
// memory, it fails as Windows' does, with the last error set.
DWORD WINAPI GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* file_part) try {
    if (name == nullptr || *name == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string joined;
    if (name[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) {
            posix::set_error_from_errno(errno);
            return 0;
        }
        joined = cwd;
        joined += '/';
    }
    joined += name;
    std::string out;
    size_t i = 0;
    while (i < joined.size()) {
        size_t j = joined.find('/', i);
        if (j == std::string::npos) j = joined.size();
        std::string part = joined.substr(i, j - i);
        if (part == "..") {
            size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
        } else if (!part.empty() && part != ".") {
            out += '/';
            out += part;
        }
        i = j + 1;
    }
    if (out.empty()) out = "/";
    if (joined.back() == '/' && out.back() != '/') out += '/';
    if (out.size() + 1 > size) return static_cast<DWORD>(out.size() + 1);
    memcpy(buffer, out.c_str(), out.size() + 1);
    if (file_part) {
        size_t slash = out.rfind('/');
        *file_part = slash + 1 < out.size() ? buffer + slash + 1 : nullptr;
    }
    return static_cast<DWORD>(out.size());
} catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

// Built once from /proc/self/cmdline the way Windows would show it, so that
// the program reads both alike: arguments joined by blanks, an empty one or
// one with blanks or quotes inside put in double quotes, where a quote is
// escaped with a backslash and so are the backslashes right before a quote
// or before the closing one. Every argument comes back whole, byte for byte.
LPSTR WINAPI GetCommandLineA(void) {
    static std::string line = [] {
        std::string raw, result;
        FILE* f = fopen("/proc/self/cmdline", "rb");
        if (f) {
            char chunk[4096];
            size_t n;
            while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) raw.append(chunk, n);
            fclose(f);
        }
        size_t i = 0;
        while (i < raw.size()) {
            size_t end = raw.find('\0', i);
            if (end == std::string::npos) end = raw.size();
            std::string arg = raw.substr(i, end - i);
            if (!result.empty()) result += ' ';
            if (!arg.empty() && arg.find_first_of(" \t\n\v\f\r\"") == std::string::npos) {
                result += arg;
            } else {
                result += '"';
                size_t slashes = 0;
                for (char c : arg) {
                    if (c == '\\') {
                        ++slashes;
                    } else {
                        if (c == '"') result.append(slashes + 1, '\\');
                        slashes = 0;
                    }
                    result += c;
                }
                result.append(slashes, '\\');
                result += '"';
            }
            i = end + 1;
        }
        return result;
    }();
    return line.data();
}

}  // extern "C"
