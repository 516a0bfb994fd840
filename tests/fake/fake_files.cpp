// The fake's handles: standard handles and console mode, files on an
// in-memory disk, the COM devices with the comm calls, and paths.
#include <cstring>

#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"

namespace fake {

HANDLE std_handles[3];  // all of them the console
std::map<HANDLE, std::string> written;
std::map<std::string, std::string> disk;
std::vector<std::string> refused_names;
std::string command_line;
size_t disk_free;

namespace {
std::map<HANDLE, DWORD> console_modes;  // absent: no console
struct OpenFile {
    std::string name;
    size_t position = 0;
    SerialDevice* com = nullptr;  // or a file of the disk
};
std::map<HANDLE, OpenFile> open_files;
// Built on first use: fake::reset() may run before this file's statics.
std::map<std::string, SerialDevice>& devices() {
    static std::map<std::string, SerialDevice> d;
    return d;
}

OpenFile* file_of(HANDLE h) { return open_files.count(h) ? &open_files[h] : nullptr; }
SerialDevice* device_of(HANDLE h) { return file_of(h) ? file_of(h)->com : nullptr; }
HANDLE handle_of(uintptr_t v) { return reinterpret_cast<HANDLE>(v); }

// Moves what has arrived by now into the driver's queue.
void deliver(SerialDevice& d) {
    for (; !d.arriving.empty() && d.arriving.front().at_ms <= now_ms(); d.arriving.pop_front())
        d.queue += d.arriving.front().bytes;
}
}  // namespace

void reset_files() {
    for (int i = 0; i < 3; ++i) std_handles[i] = handle_of(0x10 + 4 * i);
    console_modes = {{std_handles[0], ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_MOUSE_INPUT}};
    written.clear(), disk.clear(), refused_names.clear(), disk_free = SIZE_MAX;
    open_files.clear(), devices().clear();
    command_line = "rxmon.exe";
}

int64_t now_ms() { return counter / 10'000; }

SerialDevice& com(int n) {
    std::string name = "COM" + std::to_string(n);
    if (!devices().count(name)) {
        DCB& s = devices()[name].state;
        s.BaudRate = 1200, s.ByteSize = 7, s.Parity = MARKPARITY, s.StopBits = ONE5STOPBITS, s.XonChar = 17;
        s.fOutxCtsFlow = s.fOutX = s.fInX = s.fNull = s.fAbortOnError = 1;
        s.fDtrControl = DTR_CONTROL_HANDSHAKE, s.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    return devices()[name];
}

void SerialDevice::send(const std::string& bytes, int64_t after_ms) {
    arriving.push_back({now_ms() + after_ms, bytes});
}

}  // namespace fake

using fake::device_of;

extern "C" {

HANDLE WINAPI GetStdHandle(DWORD which) {
    fake::record(__func__);
    return which >= STD_ERROR_HANDLE && which <= STD_INPUT_HANDLE ? fake::std_handles[STD_INPUT_HANDLE - which]
                                                                   : INVALID_HANDLE_VALUE;
}

DWORD WINAPI GetFileType(HANDLE) { return fake::record(__func__), FILE_TYPE_CHAR; }
BOOL WINAPI GetConsoleMode(HANDLE h, LPDWORD mode) {
    return fake::record(__func__), fake::console_modes.count(h) && (*mode = fake::console_modes[h], true);
}
BOOL WINAPI SetConsoleMode(HANDLE h, DWORD mode) {
    return fake::record(__func__), fake::console_modes.count(h) && (fake::console_modes[h] = mode, true);
}

// A COM port opens for one handle at a time, as on Windows.
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD, HANDLE) {
    fake::record(__func__);
    std::string n = name;
    if (n == "CONOUT$") return fake::console_output;
    fake::SerialDevice* com = fake::devices().count(n) ? &fake::devices()[n] : nullptr;
    if ((com && com->is_open) || std::count(fake::refused_names.begin(), fake::refused_names.end(), n) ||
        (!com && creation == OPEN_EXISTING && !fake::disk.count(n)))
        return INVALID_HANDLE_VALUE;
    if (creation == CREATE_ALWAYS) fake::disk[n].clear();
    uintptr_t v = 0x100;
    while (fake::open_files.count(fake::handle_of(v))) v += 4;
    fake::open_files[fake::handle_of(v)] = fake::OpenFile{n, 0, com};
    if (com) com->is_open = true;
    return fake::handle_of(v);
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    fake::record(__func__);
    fake::OpenFile* f = fake::file_of(h);
    if (f == nullptr) return FALSE;
    std::string& data = f->com ? (fake::deliver(*f->com), f->com->queue) : fake::disk[f->name];
    size_t at = f->com ? 0 : f->position, n = at < data.size() ? std::min<size_t>(count, data.size() - at) : 0;
    memcpy(buffer, data.data() + at, n);
    if (f->com) data.erase(0, n);
    f->position += n;
    *done = static_cast<DWORD>(n);
    return TRUE;
}

// A device that takes fewer bytes than offered keeps the writer for the
// whole write time-out, then reports the short count as success, as a
// Windows serial driver does.
BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    fake::record(__func__);
    const std::string bytes(static_cast<const char*>(buffer), count);
    fake::OpenFile* f = fake::file_of(h);
    if (fake::SerialDevice* d = device_of(h)) {
        *done = std::min(count, d->accepts);
        if (d->accepts != MAXDWORD) d->accepts -= *done;
        if (*done < count) {
            const COMMTIMEOUTS& t = d->timeouts;
            int64_t ms = int64_t(t.WriteTotalTimeoutMultiplier) * count + t.WriteTotalTimeoutConstant;
            fake::advance(ms);
        }
        d->received += bytes.substr(0, *done);
        if (d->peer && *done > 0) d->peer(*d, bytes.substr(0, *done));
        return TRUE;
    }
    if (f) {
        std::string& data = fake::disk[f->name];
        *done = static_cast<DWORD>(std::min<size_t>(count, fake::disk_free));
        fake::disk_free -= *done;
        data.resize(std::max<size_t>(data.size(), f->position + *done));
        data.replace(f->position, *done, bytes.substr(0, *done));
        f->position += *done;
        return *done == count;
    }
    fake::written[h] += bytes;
    *done = count;
    return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE h) {
    fake::record(__func__);
    fake::OpenFile* f = fake::file_of(h);
    return f && !f->com && (fake::disk[f->name].resize(f->position), true);
}

// Neither pipes nor which file a name leads to are modelled: the backend's.
BOOL WINAPI GetFileInformationByHandle(HANDLE, LPBY_HANDLE_FILE_INFORMATION) { return FALSE; }
BOOL WINAPI SetNamedPipeHandleState(HANDLE, LPDWORD, LPDWORD, LPDWORD) { return FALSE; }

BOOL WINAPI CloseHandle(HANDLE h) {
    fake::record(__func__);
    if (device_of(h)) device_of(h)->is_open = false;
    return fake::open_files.erase(h) ? TRUE : FALSE;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG high, DWORD method) {
    fake::record(__func__);
    fake::OpenFile* f = fake::file_of(h);
    if (f == nullptr) return INVALID_SET_FILE_POINTER;
    size_t base = method == FILE_BEGIN ? 0 : method == FILE_END ? fake::disk[f->name].size() : f->position;
    int64_t offset = high ? (int64_t(*high) << 32) | uint32_t(distance) : distance;
    f->position = static_cast<size_t>(static_cast<int64_t>(base) + offset);
    if (high) *high = static_cast<LONG>(f->position >> 32);
    return static_cast<DWORD>(f->position);
}

DWORD WINAPI GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* file_part) {
    fake::record(__func__);
    std::string full = name;
    if (!(full.size() >= 2 && full[1] == ':')) full = "C:\\work\\" + full;
    if (full.size() + 1 > size) return static_cast<DWORD>(full.size() + 1);
    memcpy(buffer, full.c_str(), full.size() + 1);
    if (file_part) *file_part = buffer + full.rfind('\\') + 1;
    return static_cast<DWORD>(full.size());
}

LPSTR WINAPI GetCommandLineA(void) { return fake::record(__func__), fake::command_line.data(); }
BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb) {
    return fake::record(__func__), device_of(h) && (*dcb = device_of(h)->state, true);
}
BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb) {
    return fake::record(__func__), device_of(h) && (device_of(h)->state = *dcb, true);
}
BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    return fake::record(__func__), device_of(h) && (device_of(h)->timeouts = *timeouts, true);
}

BOOL WINAPI ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT status) {
    fake::record(__func__);
    fake::SerialDevice* d = device_of(h);
    if (d == nullptr || d->status_fails) return FALSE;
    fake::deliver(*d);
    if (errors) *errors = 0;
    if (status) *status = COMSTAT{}, status->cbInQue = static_cast<DWORD>(d->queue.size());
    return TRUE;
}

DWORD WINAPI GetLastError(void) { return 0; }
void WINAPI SetLastError(DWORD) {}
DWORD WINAPI FormatMessageA(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, va_list*) { return 0; }

}  // extern "C"

// The fake knows its ports by number alone, as Windows does, and no cause
// beyond the error code.
int platform_port_name(const char*, char* why, int) { return why[0] = 0, 0; }
int platform_port_failure(DWORD, char*, int) { return 0; }
