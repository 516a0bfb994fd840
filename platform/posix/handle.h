// Inside the POSIX backend a HANDLE points at one of these objects. Each area
// (files, serial, console) derives its own kind, so that ReadFile, WriteFile,
// CloseHandle and GetFileType reach the right code without a switch.
#pragma once

#include <string>

#include "platform/posix/win_types.h"

namespace posix {

struct HandleObject {
    int fd = -1;
    virtual ~HandleObject() = default;
    virtual BOOL read(void* buffer, DWORD count, DWORD* done);
    virtual BOOL write(const void* buffer, DWORD count, DWORD* done);
    virtual DWORD file_type();
    // Returns FALSE when the underlying descriptor could not be closed.
    virtual BOOL close();
    // CloseHandle gives the handle up; an object that something else still
    // uses (a running thread) lives on until that ends too.
    virtual void release_handle() { delete this; }
};

// A new handle for an object (platform/posix/handle_table.cpp), or
// INVALID_HANDLE_VALUE with the last error set when the table is full. A
// permanent handle (standard handles, the process) outlives CloseHandle.
HANDLE handle_of(HandleObject* o, bool permanent = false);
// The object behind a live handle, or null with ERROR_INVALID_HANDLE set:
// for null, INVALID_HANDLE_VALUE, a closed handle or a made-up value.
HandleObject* object_of(HANDLE h);
// Ends a live handle and returns its object for CloseHandle to close and
// release (null, with ERROR_INVALID_HANDLE set, for any other value).
HandleObject* handle_close(HANDLE h, bool* permanent);

// Maps errno to the nearest Windows error code and stores it.
void set_error_from_errno(int err);
// Stores an error code with the cause that FormatMessageA gives for it.
void set_error_with_text(DWORD code, const std::string& text);
// That cause, while `code` is still the last error; else empty.
std::string error_text(DWORD code);

// Device names that CreateFileA hands to another area. Each returns a new
// object, or null with the last error set. The areas' backends define them.
HandleObject* open_console_output(DWORD access);
HandleObject* open_console_input(DWORD access);
HandleObject* open_serial(int number, DWORD access, DWORD creation);
// A port by its name (CreateFileA's \\.\NAME): a device path or
// rfc2217://HOST:PORT. By number, the name is RXMON_COM<n>'s or /dev/ttyS<n-1>.
HandleObject* open_serial_path(const char* path, DWORD access, DWORD creation, bool named);

// True when ESC waits on the console among the keys not yet read
// (console_in.cpp); a network port's waits end early on it.
bool esc_waiting();

// The console backend's say over text written to standard output or error
// while its full screen hides the user's terminal: true when it has taken
// the bytes, to show them once the terminal is given back; *kept is how many
// it could keep (fewer only past the held text's limit, or without memory).
bool console_holds_output(int fd, const void* data, DWORD count, DWORD* kept);
// Rings the terminal's bell between the console's own writes (Beep without a
// sound device); false when standard output is no terminal with a bell.
bool console_bell();

// Called by ExitProcess (and the fatal signal handlers) before the process
// ends, so that a terminal taken over is always given back. Functions run in
// the reverse order of registration; each must be safe to call twice.
void at_exit(void (*fn)());
void run_exit_hooks();

// Gives the calling thread an alternate signal stack, so that a stack
// overflow on it can still be reported. Threads of CreateThread call it first.
void prepare_thread_for_faults();

}  // namespace posix
