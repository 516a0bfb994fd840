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
uintptr_t next_handle = 0x5000;  // constant-initialised, so safe before reset

SerialDevice* device_of(HANDLE h) { return handles().count(h) ? handles()[h] : nullptr; }

// Moves what has arrived by now into the driver's queue.
void deliver(SerialDevice& d) {
    while (!d.arriving.empty() && d.arriving.front().at_ms <= now_ms()) {
        d.queue += d.arriving.front().bytes;
        d.arriving.pop_front();
    }
}
}  // namespace

void reset_serial() {
    devices().clear();
    handles().clear();
}

int64_t now_ms() { return counter / 10'000; }

SerialDevice& com(int n) {
    std::string name = "COM" + std::to_string(n);
    if (!devices().count(name)) {
        DCB& s = devices()[name].state;
        s.DCBlength = sizeof(DCB);
        s.BaudRate = 1200;
        s.fBinary = s.fOutxCtsFlow = s.fOutX = s.fInX = s.fNull = s.fAbortOnError = 1;
        s.fDtrControl = DTR_CONTROL_HANDSHAKE;
        s.fRtsControl = RTS_CONTROL_HANDSHAKE;
        s.ByteSize = 7;
        s.Parity = MARKPARITY;
        s.StopBits = ONE5STOPBITS;
        s.XonChar = 17;
    }
    return devices()[name];
}

void SerialDevice::send(const std::string& bytes, int64_t after_ms) { arriving.push_back({now_ms() + after_ms, bytes}); }

bool serial_open(const std::string& name, HANDLE* handle) {
    if (!devices().count(name)) return false;
    SerialDevice& d = devices()[name];
    // Windows opens a COM port for one handle at a time.
    *handle = d.is_open ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(next_handle += 4);
    if (!d.is_open) handles()[*handle] = &d;
    d.is_open = true;
    return true;
}

bool serial_read(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    *done = 0;
    *result = !d->read_fails;
    if (d->read_fails) return true;
    deliver(*d);
    *done = std::min<DWORD>(count, static_cast<DWORD>(d->queue.size()));
    memcpy(buffer, d->queue.data(), *done);
    d->queue.erase(0, *done);
    return true;
}

// A device that takes fewer bytes than offered keeps the writer for the
// whole write time-out, then reports the short count as success, as a
// Windows serial driver does.
bool serial_write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    *done = 0;
    *result = !d->write_fails;
    if (d->write_fails) return true;
    DWORD n = std::min(count, d->accepts);
    if (d->accepts != MAXDWORD) d->accepts -= n;
    if (n < count) {
        int64_t ms = int64_t(d->timeouts.WriteTotalTimeoutMultiplier) * count + d->timeouts.WriteTotalTimeoutConstant;
        tick_count += static_cast<uint32_t>(ms);
        counter += ms * 10'000;
    }
    std::string bytes(static_cast<const char*>(buffer), n);
    d->received += bytes;
    *done = n;
    if (d->peer && n > 0) d->peer(*d, bytes);
    return true;
}

bool serial_close(HANDLE h, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    d->is_open = false;
    handles().erase(h);
    *result = TRUE;
    return true;
}

}  // namespace fake

using fake::device_of;

extern "C" {

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb) {
    fake::record(__func__);
    if (!device_of(h) || device_of(h)->settings_fail) return FALSE;
    *dcb = device_of(h)->state;
    return TRUE;
}

BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb) {
    fake::record(__func__);
    if (!device_of(h) || device_of(h)->settings_fail) return FALSE;
    device_of(h)->state = *dcb;
    return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    fake::record(__func__);
    if (!device_of(h) || device_of(h)->settings_fail) return FALSE;
    device_of(h)->timeouts = *timeouts;
    return TRUE;
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
