// The fake's standard handles, console mode, files and paths.
#include <cstring>

#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"

namespace fake {

HANDLE std_handles[3];
std::map<HANDLE, DWORD> file_types;
std::map<HANDLE, DWORD> console_modes;
std::map<HANDLE, std::string> written;
std::map<HANDLE, DWORD> short_writes;
std::map<std::string, std::string> disk;
std::vector<std::string> refused_names;
std::string command_line;
std::string current_directory;

namespace {
struct OpenFile {
    std::string name;
    size_t position = 0;
    int reads = 0;
};
std::map<uintptr_t, OpenFile> open_files;

HANDLE handle_of(uintptr_t v) { return reinterpret_cast<HANDLE>(v); }
}  // namespace

int reads_of(HANDLE h) {
    auto it = open_files.find(reinterpret_cast<uintptr_t>(h));
    return it == open_files.end() ? 0 : it->second.reads;
}

void reset_files() {
    std_handles[0] = handle_of(0x10);
    std_handles[1] = handle_of(0x14);
    std_handles[2] = handle_of(0x18);
    file_types = {{std_handles[0], FILE_TYPE_CHAR}, {std_handles[1], FILE_TYPE_CHAR}, {std_handles[2], FILE_TYPE_CHAR}};
    console_modes = {{std_handles[0], ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                          ENABLE_MOUSE_INPUT | ENABLE_QUICK_EDIT_MODE}};
    written.clear();
    short_writes.clear();
    disk.clear();
    refused_names.clear();
    open_files.clear();
    command_line = "rxmon.exe";
    current_directory = "C:\\work\\";
}

}  // namespace fake

extern "C" {

HANDLE WINAPI GetStdHandle(DWORD which) {
    fake::record("GetStdHandle");
    if (which == STD_INPUT_HANDLE) return fake::std_handles[0];
    if (which == STD_OUTPUT_HANDLE) return fake::std_handles[1];
    if (which == STD_ERROR_HANDLE) return fake::std_handles[2];
    return INVALID_HANDLE_VALUE;
}

DWORD WINAPI GetFileType(HANDLE h) {
    fake::record("GetFileType");
    auto it = fake::file_types.find(h);
    return it == fake::file_types.end() ? FILE_TYPE_DISK : it->second;
}

BOOL WINAPI GetConsoleMode(HANDLE h, LPDWORD mode) {
    fake::record("GetConsoleMode");
    auto it = fake::console_modes.find(h);
    if (it == fake::console_modes.end()) return FALSE;
    *mode = it->second;
    return TRUE;
}

BOOL WINAPI SetConsoleMode(HANDLE h, DWORD mode) {
    fake::record("SetConsoleMode");
    auto it = fake::console_modes.find(h);
    if (it == fake::console_modes.end()) return FALSE;
    it->second = mode;
    return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD, HANDLE) {
    fake::record("CreateFileA");
    std::string n = name;
    if (HANDLE com; fake::serial_open(n, &com)) return com;
    if (n == "CONOUT$" || n == "CONIN$") return fake::console_open(n);
    for (auto& refused : fake::refused_names)
        if (refused == n) return INVALID_HANDLE_VALUE;
    if (creation == OPEN_EXISTING && !fake::disk.count(n)) return INVALID_HANDLE_VALUE;
    if (creation == CREATE_ALWAYS) fake::disk[n].clear();
    uintptr_t v = 0x100;
    while (fake::open_files.count(v)) v += 4;
    fake::open_files[v] = fake::OpenFile{n};
    return fake::handle_of(v);
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    fake::record("ReadFile");
    *done = 0;
    if (BOOL r; fake::serial_read(h, buffer, count, done, &r)) return r;
    auto it = fake::open_files.find(reinterpret_cast<uintptr_t>(h));
    if (it == fake::open_files.end()) return FALSE;
    fake::OpenFile& f = it->second;
    f.reads++;
    const std::string& data = fake::disk[f.name];
    size_t n = f.position < data.size() ? std::min<size_t>(count, data.size() - f.position) : 0;
    memcpy(buffer, data.data() + f.position, n);
    f.position += n;
    *done = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    fake::record("WriteFile");
    if (BOOL r; fake::serial_write(h, buffer, count, done, &r)) return r;
    DWORD n = count;
    auto limit = fake::short_writes.find(h);
    if (limit != fake::short_writes.end() && limit->second < n) n = limit->second;
    const char* bytes = static_cast<const char*>(buffer);
    auto it = fake::open_files.find(reinterpret_cast<uintptr_t>(h));
    if (it != fake::open_files.end()) {
        std::string& data = fake::disk[it->second.name];
        if (data.size() < it->second.position + n) data.resize(it->second.position + n);
        data.replace(it->second.position, n, bytes, n);
        it->second.position += n;
    } else {
        fake::written[h].append(bytes, n);
    }
    *done = n;
    return n == count;
}

BOOL WINAPI CloseHandle(HANDLE h) {
    fake::record("CloseHandle");
    if (BOOL r; fake::serial_close(h, &r)) return r;
    return fake::open_files.erase(reinterpret_cast<uintptr_t>(h)) ? TRUE : FALSE;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG high, DWORD method) {
    fake::record("SetFilePointer");
    auto it = fake::open_files.find(reinterpret_cast<uintptr_t>(h));
    if (it == fake::open_files.end()) return INVALID_SET_FILE_POINTER;
    int64_t base = method == FILE_BEGIN ? 0
                   : method == FILE_END ? static_cast<int64_t>(fake::disk[it->second.name].size())
                                        : static_cast<int64_t>(it->second.position);
    int64_t offset = high ? (int64_t(*high) << 32) | uint32_t(distance) : distance;
    it->second.position = static_cast<size_t>(base + offset);
    if (high) *high = static_cast<LONG>(it->second.position >> 32);
    return static_cast<DWORD>(it->second.position);
}

DWORD WINAPI GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* file_part) {
    fake::record("GetFullPathNameA");
    std::string full = name;
    if (!(full.size() >= 2 && full[1] == ':')) full = fake::current_directory + full;
    if (full.size() + 1 > size) return static_cast<DWORD>(full.size() + 1);
    memcpy(buffer, full.c_str(), full.size() + 1);
    if (file_part) *file_part = buffer + full.rfind('\\') + 1;
    return static_cast<DWORD>(full.size());
}

LPSTR WINAPI GetCommandLineA(void) {
    fake::record("GetCommandLineA");
    return fake::command_line.data();
}

DWORD WINAPI GetLastError(void) { return 0; }
void WINAPI SetLastError(DWORD) {}
DWORD WINAPI FormatMessageA(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, va_list*) { return 0; }

}  // extern "C"
