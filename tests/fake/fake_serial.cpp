// The fake's COM devices and the comm calls of the port layer.
#include "tests/fake/fake_serial.h"

#include <cstring>

namespace fake {

std::map<std::string, SerialDevice>& serial_devices() {
    static std::map<std::string, SerialDevice> devices;
    return devices;
}

namespace {
std::map<HANDLE, std::string>& serial_handles() {
    static std::map<HANDLE, std::string> handles;
    return handles;
}
uintptr_t next_handle = 0x5000;  // constant-initialised, so safe before reset

SerialDevice* device_of(HANDLE h) {
    auto it = serial_handles().find(h);
    return it == serial_handles().end() ? nullptr : &serial_devices()[it->second];
}

// Moves what has arrived by now into the driver's queue.
void deliver(SerialDevice& d) {
    int64_t now = now_ms();
    while (!d.arriving.empty() && d.arriving.front().at_ms <= now) {
        d.queue += d.arriving.front().bytes;
        d.arriving.pop_front();
    }
}

DCB reset_state() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 1200;
    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fNull = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 7;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = ONE5STOPBITS;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    dcb.EofChar = 26;
    return dcb;
}
}  // namespace

void reset_serial() {
    serial_devices().clear();
    serial_handles().clear();
    next_handle = 0x5000;
}

int64_t now_ms() { return counter / 10'000; }

SerialDevice& com(int n) {
    std::string name = "COM" + std::to_string(n);
    auto it = serial_devices().find(name);
    if (it != serial_devices().end()) return it->second;
    SerialDevice& d = serial_devices()[name];
    d.state = reset_state();
    return d;
}

void SerialDevice::send(const std::string& bytes, int64_t after_ms) {
    arriving.push_back({now_ms() + after_ms, bytes});
}

bool serial_open(const std::string& name, HANDLE* handle) {
    auto it = serial_devices().find(name);
    if (it == serial_devices().end()) return false;
    SerialDevice& d = it->second;
    // Windows opens a COM port for one handle at a time.
    if (d.is_open) {
        *handle = INVALID_HANDLE_VALUE;
        return true;
    }
    d.is_open = true;
    d.opens++;
    *handle = reinterpret_cast<HANDLE>(next_handle);
    next_handle += 4;
    serial_handles()[*handle] = name;
    return true;
}

bool serial_read(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    *done = 0;
    if (d->read_fails) {
        *result = FALSE;
        return true;
    }
    deliver(*d);
    DWORD n = std::min<DWORD>(count, static_cast<DWORD>(d->queue.size()));
    memcpy(buffer, d->queue.data(), n);
    d->queue.erase(0, n);
    *done = n;
    *result = TRUE;
    return true;
}

// A device that takes fewer bytes than offered keeps the writer for the
// whole write time-out, then reports the short count as success, as a
// Windows serial driver does.
bool serial_write(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    *done = 0;
    if (d->write_fails) {
        *result = FALSE;
        return true;
    }
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
    *result = TRUE;
    if (d->peer && n > 0) d->peer(*d, bytes);
    return true;
}

bool serial_close(HANDLE h, BOOL* result) {
    SerialDevice* d = device_of(h);
    if (d == nullptr) return false;
    d->is_open = false;
    serial_handles().erase(h);
    *result = TRUE;
    return true;
}

}  // namespace fake

extern "C" {

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb) {
    fake::record("GetCommState");
    fake::SerialDevice* d = fake::device_of(h);
    if (d == nullptr || d->get_state_fails) return FALSE;
    *dcb = d->state;
    return TRUE;
}

BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb) {
    fake::record("SetCommState");
    fake::SerialDevice* d = fake::device_of(h);
    if (d == nullptr) return FALSE;
    d->states_set.push_back(*dcb);
    if (d->set_state_fails) return FALSE;
    d->state = *dcb;
    return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    fake::record("SetCommTimeouts");
    fake::SerialDevice* d = fake::device_of(h);
    if (d == nullptr || d->timeouts_fail) return FALSE;
    d->timeouts = *timeouts;
    return TRUE;
}

BOOL WINAPI ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT status) {
    fake::record("ClearCommError");
    fake::SerialDevice* d = fake::device_of(h);
    if (d == nullptr || d->status_fails) return FALSE;
    fake::deliver(*d);
    if (errors) *errors = 0;
    if (status) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(d->queue.size());
    }
    return TRUE;
}

}  // extern "C"

// The fake knows its ports by number alone, as Windows does.
int platform_port_number(const char*) { return 0; }
