// The fake's standard handles, console mode, files and paths.
#include <cstring>

#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"

namespace fake {

HANDLE std_handles[3];
std::map<HANDLE, DWORD> console_modes;
std::map<HANDLE, std::string> written;
std::map<std::string, std::string> disk;
std::vector<std::string> refused_names;
std::string command_line;

namespace {
struct OpenFile {
    std::string name;
    size_t position = 0;
};
std::map<HANDLE, OpenFile> open_files;

OpenFile* file_of(HANDLE h) {
    auto it = open_files.find(h);
    return it == open_files.end() ? nullptr : &it->second;
}
HANDLE handle_of(uintptr_t v) { return reinterpret_cast<HANDLE>(v); }
}  // namespace

void reset_files() {
    for (int i = 0; i < 3; ++i) std_handles[i] = handle_of(0x10 + 4 * i);
    console_modes = {{std_handles[0], ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_MOUSE_INPUT}};
    written.clear(), disk.clear(), refused_names.clear(), open_files.clear();
    command_line = "rxmon.exe";
}

}  // namespace fake

extern "C" {

HANDLE WINAPI GetStdHandle(DWORD which) {
    fake::record(__func__);
    return which >= STD_ERROR_HANDLE && which <= STD_INPUT_HANDLE ? fake::std_handles[STD_INPUT_HANDLE - which]
                                                                   : INVALID_HANDLE_VALUE;
}

DWORD WINAPI GetFileType(HANDLE) { return fake::record(__func__), FILE_TYPE_CHAR; }

BOOL WINAPI GetConsoleMode(HANDLE h, LPDWORD mode) {
    fake::record(__func__);
    return fake::console_modes.count(h) && (*mode = fake::console_modes[h], true);
}

BOOL WINAPI SetConsoleMode(HANDLE h, DWORD mode) {
    fake::record(__func__);
    return fake::console_modes.count(h) && (fake::console_modes[h] = mode, true);
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD, HANDLE) {
    fake::record(__func__);
    std::string n = name;
    if (HANDLE com; fake::serial_open(n, &com)) return com;
    if (n == "CONOUT$") return fake::console_output;
    for (auto& refused : fake::refused_names)
        if (refused == n) return INVALID_HANDLE_VALUE;
    if (creation == OPEN_EXISTING && !fake::disk.count(n)) return INVALID_HANDLE_VALUE;
    if (creation == CREATE_ALWAYS) fake::disk[n].clear();
    uintptr_t v = 0x100;
    while (fake::open_files.count(fake::handle_of(v))) v += 4;
    fake::open_files[fake::handle_of(v)] = fake::OpenFile{n};
    return fake::handle_of(v);
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    fake::record(__func__);
    *done = 0;
    if (BOOL r; fake::serial_read(h, buffer, count, done, &r)) return r;
    fake::OpenFile* f = fake::file_of(h);
    if (f == nullptr) return FALSE;
    const std::string& data = fake::disk[f->name];
    size_t n = f->position < data.size() ? std::min<size_t>(count, data.size() - f->position) : 0;
    memcpy(buffer, data.data() + f->position, n);
    f->position += n;
    *done = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    fake::record(__func__);
    if (BOOL r; fake::serial_write(h, buffer, count, done, &r)) return r;
    DWORD n = count;
    const char* bytes = static_cast<const char*>(buffer);
    if (fake::OpenFile* f = fake::file_of(h)) {
        std::string& data = fake::disk[f->name];
        data.resize(std::max(data.size(), f->position + n));
        data.replace(f->position, n, bytes, n);
        f->position += n;
    } else {
        fake::written[h].append(bytes, n);
    }
    *done = n;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE h) {
    fake::record(__func__);
    if (BOOL r; fake::serial_close(h, &r)) return r;
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

}  // extern "C"
