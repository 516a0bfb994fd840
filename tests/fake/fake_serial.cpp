// The fake's COM devices and the comm calls of the port layer.
#include "tests/fake/fake_serial.h"

#include <cstring>
#include <map>

namespace fake {

namespace {
// Built on first use: fake::reset() may run before this file's statics.
std::map<std::string, SerialDevice>& devices() {
    static std::map<std::string, SerialDevice> d;
    return d;
}
std::map<HANDLE, SerialDevice*>& handles() {
    static std::map<HANDLE, SerialDevice*> h;
    return h;
}
SerialDevice* device_of(HANDLE h) { return handles().count(h) ? handles()[h] : nullptr; }

// Moves what has arrived by now into the driver's queue.
void deliver(SerialDevice& d) {
    for (; !d.arriving.empty() && d.arriving.front().at_ms <= now_ms(); d.arriving.pop_front())
        d.queue += d.arriving.front().bytes;
}
}  // namespace

void reset_serial() { devices().clear(), handles().clear(); }

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

void SerialDevice::send(const std::string& bytes, int64_t after_ms) { arriving.push_back({now_ms() + after_ms, bytes}); }

// Windows opens a COM port for one handle at a time.
bool serial_open(const std::string& name, HANDLE* handle) {
    if (!devices().count(name)) return false;
    static uintptr_t next = 0x5000;
    SerialDevice& d = devices()[name];
    *handle = d.is_open ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(next += 4);
    if (!d.is_open) handles()[*handle] = &d;
    d.is_open = true;
    return true;
}

bool serial_read(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    deliver(*d);
    *done = std::min<DWORD>(count, static_cast<DWORD>(d->queue.size()));
    memcpy(buffer, d->queue.data(), *done);
    d->queue.erase(0, *done);
    return (*result = TRUE);
}

// A device that takes fewer bytes than offered keeps the writer for the
// whole write time-out, then reports the short count as success, as a
// Windows serial driver does.
bool serial_write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    *result = TRUE;
    *done = std::min(count, d->accepts);
    if (d->accepts != MAXDWORD) d->accepts -= *done;
    if (*done < count) {
        int64_t ms = int64_t(d->timeouts.WriteTotalTimeoutMultiplier) * count + d->timeouts.WriteTotalTimeoutConstant;
        tick_count += static_cast<uint32_t>(ms), counter += ms * 10'000;
    }
    std::string bytes(static_cast<const char*>(buffer), *done);
    d->received += bytes;
    if (d->peer && *done > 0) d->peer(*d, bytes);
    return true;
}

bool serial_close(HANDLE h, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    d->is_open = false;
    handles().erase(h);
    return (*result = TRUE);
}

}  // namespace fake

using fake::device_of;

extern "C" {

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb) {
    fake::record(__func__);
    return device_of(h) && (*dcb = device_of(h)->state, true);
}

BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb) {
    fake::record(__func__);
    return device_of(h) && (device_of(h)->state = *dcb, true);
}

BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    fake::record(__func__);
    return device_of(h) && (device_of(h)->timeouts = *timeouts, true);
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

}  // extern "C"
