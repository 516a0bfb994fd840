// Console input mode until the console backend takes this file's place:
// a terminal keeps the mode it is given; anything else is no console.
#include <unistd.h>

#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace posix {
HandleObject* open_console_output(DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}
HandleObject* open_console_input(DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}
}  // namespace posix

static DWORD console_mode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;

extern "C" {
BOOL WINAPI GetConsoleMode(HANDLE h, LPDWORD mode) {
    posix::HandleObject* o = posix::object_of(h);
    if (o == nullptr || !isatty(o->fd)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *mode = console_mode;
    return TRUE;
}
BOOL WINAPI SetConsoleMode(HANDLE h, DWORD mode) {
    posix::HandleObject* o = posix::object_of(h);
    if (o == nullptr || !isatty(o->fd)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    console_mode = mode;
    return TRUE;
}
}
