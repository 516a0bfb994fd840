// File wrappers, handle names and the buffered reader.
#include "runtime/file.h"

#include "runtime/out.h"
#include "runtime/txt.h"

namespace {
struct NameSlot {
    HANDLE handle;
    char name[262];
};
// Slots are taken from the last towards the first and never given back, so
// the copy nearest the first slot is the newest name of a handle.
NameSlot handle_names[100];
bool register_std_first = true;
}  // namespace

void name_remember(HANDLE handle, const char* name) {
    if (register_std_first) {
        register_std_first = false;
        name_remember(std_in, T("<stdin>"));
        name_remember(std_out, T("<stdout>"));
        name_remember(std_err, T("<stderr>"));
    }
    name = txt_unscramble(name);
    for (int i = 99; i >= 0; --i) {
        if (handle_names[i].handle == nullptr) {
            handle_names[i].handle = handle;
            txt_copy_n(handle_names[i].name, name, 261);
            return;
        }
    }
}

void name_table_clear() {
    for (NameSlot& slot : handle_names) slot.handle = nullptr;
    register_std_first = true;
}

void name_lookup(HANDLE handle, char* output) {
    output[0] = 0;
    for (int i = 99; i >= 0; --i)
        if (handle_names[i].handle == handle) txt_copy(output, handle_names[i].name);
}

int file_open(const char* name, DWORD mode, HANDLE* handle) {
    name = txt_unscramble(name);
    DWORD access = mode == 0 ? GENERIC_READ : mode == 1 ? GENERIC_WRITE : mode == 2 ? GENERIC_READ | GENERIC_WRITE : mode;
    *handle = CreateFileA(name, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (*handle == INVALID_HANDLE_VALUE) return 1;
    name_remember(*handle, name);
    return 0;
}

int file_create(const char* name, DWORD extra_access, HANDLE* handle) {
    name = txt_unscramble(name);
    *handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE | extra_access, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (*handle == INVALID_HANDLE_VALUE) fatal(T("The file %s cannot be created or replaced.\n"), name);
    name_remember(*handle, name);
    return 0;
}

int file_append(const char* name, HANDLE* handle, bool* at_start) {
    name = txt_unscramble(name);
    *handle = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (*handle == INVALID_HANDLE_VALUE) return 1;
    // A pipe whose reader stops reading fills, and a write to it would wait
    // for as long as the reader does: there a write must fail at once, and
    // a pipe that cannot be told so (wine's view of a POSIX one) is none
    // to append to.
    DWORD mode = PIPE_NOWAIT;
    if (GetFileType(*handle) == FILE_TYPE_PIPE && !SetNamedPipeHandleState(*handle, &mode, nullptr, nullptr)) {
        CloseHandle(*handle);
        *handle = INVALID_HANDLE_VALUE;
        return 2;
    }
    LONG high = 0;
    DWORD low = SetFilePointer(*handle, 0, &high, FILE_END);
    *at_start = (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) || (low == 0 && high == 0);
    name_remember(*handle, name);
    return 0;
}

int file_write(HANDLE handle, const void* data, int32_t count, int32_t* done) {
    DWORD written = 0;
    BOOL ok = WriteFile(handle, data, static_cast<DWORD>(count), &written, nullptr);
    if (done) *done = static_cast<int32_t>(written);
    return ok && written == DWORD(count) ? 0 : 1;
}

int file_cut(HANDLE handle, int32_t count) {
    LONG high = -1;  // with the low word: -count, from the end
    if (SetFilePointer(handle, -count, &high, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS)
        return 1;
    return SetEndOfFile(handle) ? 0 : 1;
}

// The volume and the file's index name a file, whatever path leads to it.
int file_moved(HANDLE handle, const char* name) {
    name = txt_unscramble(name);
    BY_HANDLE_FILE_INFORMATION held, found;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &held)) return 0;
    HANDLE now = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (now == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? 1 : 0;
    }
    BOOL known = GetFileInformationByHandle(now, &found);
    CloseHandle(now);
    if (!known) return 0;
    return found.dwVolumeSerialNumber != held.dwVolumeSerialNumber || found.nFileIndexHigh != held.nFileIndexHigh ||
                   found.nFileIndexLow != held.nFileIndexLow
               ? 2
               : 0;
}

int file_close(HANDLE handle) {
    BOOL ok = CloseHandle(handle);
    name_remember(handle, T("<closed handle>"));
    return ok ? 0 : 1;
}

int32_t file_read(HANDLE handle, void* buffer, int32_t count) {
    DWORD got = 0;
    if (!ReadFile(handle, buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
    return static_cast<int32_t>(got);
}

int64_t file_tell(HANDLE handle) {
    LONG high = 0;
    DWORD low = SetFilePointer(handle, 0, &high, FILE_CURRENT);
    return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | low);
}

// On failure, or for a path of MAX_PATH characters or more, the output is
// the empty text: a cut path would name another file.
int full_path(const char* name, char* output) {
    name = txt_unscramble(name);
    char local[MAX_PATH];
    DWORD n = GetFullPathNameA(name, MAX_PATH, local, nullptr);
    if (n == 0 || n >= MAX_PATH) {
        output[0] = 0;
        return 1;
    }
    txt_copy(output, local);
    return 0;
}

void reader_init(FileReader* reader, HANDLE handle) {
    reader->handle = handle;
    reader->block_position = reader->read_position = file_tell(handle);
    reader->count = 0;
    reader->index = 0;
}

int32_t reader_read(FileReader* reader, void* destination, int32_t n) {
    auto* dst = static_cast<uint8_t*>(destination);
    int32_t delivered = 0;
    for (;;) {
        int32_t available = reader->count - reader->index;
        int32_t take = n < available ? n : available;
        if (take > 0) {
            mem_move(reader->buffer + reader->index, dst, take);
            dst += take;
            reader->index += take;
            reader->read_position += take;
            delivered += take;
            n -= take;
        }
        if (n > 0) {
            reader->block_position += reader->count > 0 ? reader->count : 0;
            reader->index = 0;
            reader->count = file_read(reader->handle, reader->buffer, 65536);
        }
        if (n <= 0 || reader->count <= 0) return delivered;
    }
}

int32_t reader_read_exact(FileReader* reader, void* destination, int32_t n) {
    int32_t got = reader_read(reader, destination, n);
    if (got < n) {
        char name[262];
        name_lookup(reader->handle, name);
        fatal(T("Short read: %~x wanted from handle %~x into %~x %i bytes, of which %i came (%s).\n"), destination,
              reader->handle, destination, n, got, name);
    }
    return n;
}
