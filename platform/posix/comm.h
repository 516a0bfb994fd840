// The two kinds of serial handle behind the comm calls: a terminal line
// (serial.cpp) and an RFC 2217 network port (net_serial.cpp). GetCommState,
// SetCommState, SetCommTimeouts and ClearCommError reach either through
// this interface, so nothing above the platform knows which one it holds.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace posix {

struct CommObject : HandleObject {
    DCB dcb{};                // the settings as last set (or found at opening)
    COMMTIMEOUTS timeouts{};  // all zero: reads wait for the whole count, as on Windows
    bool gone = false;        // the device or the connection went: every call fails from now on

    virtual BOOL get_state(DCB* out) = 0;
    virtual BOOL set_state(const DCB& wanted) = 0;
    virtual BOOL clear_error(DWORD* errors, COMSTAT* status) = 0;

    // Waits until the descriptor is ready for `events` or `ms` pass (-1:
    // no limit). Returns 1 ready, 0 timed out, -1 the device is gone.
    int wait(short events, int64_t ms);

    // When a WriteFile of `count` bytes must end (-1: never): the total write
    // time-out, multiplier × bytes + constant, bounds the whole call.
    int64_t write_deadline(DWORD count) const;

    BOOL vanished() {
        gone = true;
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
};

int64_t now_ms();

inline int64_t CommObject::write_deadline(DWORD count) const {
    if (!timeouts.WriteTotalTimeoutMultiplier && !timeouts.WriteTotalTimeoutConstant) return -1;
    return now_ms() + int64_t(timeouts.WriteTotalTimeoutMultiplier) * count + timeouts.WriteTotalTimeoutConstant;
}

// Windows' own checks of a DCB's data size, parity and stop bits.
bool framing_valid(const DCB& d);

// How long a ReadFile under COMMTIMEOUTS may still wait, in Windows' three
// shapes: return at once; wait for the first byte up to a constant; or a
// total and an interval limit (the interval starts with the first byte).
struct ReadWait {
    ReadWait(const COMMTIMEOUTS& t, DWORD count);
    void got_bytes() { last = now_ms(); }
    // Milliseconds left to wait: -1 without limit, 0 to return now.
    int64_t left(DWORD done) const;

    bool at_once, first_byte;
    int64_t start, last, total = -1, interval;
};

// Opens rfc2217://HOST:PORT's HOST:PORT; null with the last error and its
// cause set.
HandleObject* open_rfc2217(const char* address);

// Takes HOST:PORT apart (either out may be null); false with the reason,
// which names the wrong part, for an address that cannot be one.
bool parse_address(const char* address, std::string* host, long* port, std::string* why);

}  // namespace posix
