// The port table and its operations. Only the main thread uses ports, so
// there is no locking; the only waits are the settle loop of port_read and
// the write time-out that port_open sets.
#include "serial/port.h"

#include "runtime/fmt.h"
#include "runtime/txt.h"
#include "serial/clock.h"

PortRecord port_table[256];

namespace {
bool valid_port(int32_t port) { return port >= 1 && port <= 255; }

PortRecord* open_entry(int32_t port) {
    if (!valid_port(port) || port_table[port].handle == nullptr) return nullptr;
    return &port_table[port];
}

// Bytes queued in the driver, or -1 when the device cannot be asked. The
// error flags are only cleared here, nobody wants them.
int64_t queued(HANDLE handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) return -1;
    return status.cbInQue;
}
}  // namespace

void port_make_dcb(DCB* dcb, int32_t baud, int32_t bits, int32_t parity, int32_t stop) {
    dcb->DCBlength = 28;
    dcb->BaudRate = static_cast<DWORD>(baud);
    dcb->fBinary = 1;
    dcb->fOutxCtsFlow = 0;
    dcb->fOutxDsrFlow = 0;
    dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fDsrSensitivity = 0;
    dcb->fTXContinueOnXoff = 1;
    dcb->fOutX = 0;
    dcb->fInX = 0;
    dcb->fErrorChar = 0;
    dcb->fNull = 0;
    dcb->fRtsControl = RTS_CONTROL_ENABLE;
    dcb->fAbortOnError = 0;
    dcb->fDummy2 = 0;
    dcb->wReserved = 0;
    dcb->XonLim = 0;
    dcb->XoffLim = 0;
    dcb->ByteSize = static_cast<BYTE>(bits);
    // The odd codes name a parity; the even ones and anything out of range
    // switch checking on but keep the parity the device already has.
    int16_t code = static_cast<int16_t>(parity);
    dcb->fParity = code == 0 ? 0 : 1;
    switch (code) {
        case 0: dcb->Parity = NOPARITY; break;
        case 1: dcb->Parity = ODDPARITY; break;
        case 3: dcb->Parity = EVENPARITY; break;
        case 5: dcb->Parity = MARKPARITY; break;
        case 7: dcb->Parity = SPACEPARITY; break;
        default: break;
    }
    // One and a half stop bits cannot be asked for.
    if (stop == 1) dcb->StopBits = ONESTOPBIT;
    else if (stop == 2) dcb->StopBits = TWOSTOPBITS;
    dcb->XonChar = 0;
    dcb->XoffChar = 0;
    dcb->ErrorChar = 0;
    dcb->EofChar = 0;
    dcb->EvtChar = 0;
    dcb->wReserved1 = 0;
}

int16_t port_open(int32_t port, int32_t baud, int32_t bits, int32_t parity, int32_t stop) {
    return port_open_named(port, nullptr, baud, bits, parity, stop);
}

int16_t port_open_named(int32_t port, const char* port_name, int32_t baud, int32_t bits, int32_t parity,
                        int32_t stop) {
    if (!valid_port(port)) return 1;
    port_close(port);
    // Windows opens COM1..COM9 by this plain name; ports from 10 on would
    // need the \\.\ prefix, but the monitor only ever asks for 1..9. A
    // port known by name is a device's name: \\.\ too.
    char name[300];
    if (port_name) fmt_format(name, T("\\\\.\\%s"), port_name);
    else fmt_format(name, T("COM%i"), port);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PortRecord& p = port_table[port];
    if (h == INVALID_HANDLE_VALUE) {
        p.handle = nullptr;
        return 1;
    }
    p.handle = h;
    p.bytes_in = p.bytes_out = 0;
    p.rx_pos = p.rx_end = p.rx_buf;
    // Reads return at once with what the driver holds; a write may take
    // 1 ms a byte plus 500 ms.
    port_set_timeouts(port, MAXDWORD, 0, 0, 1, 500);
    // A device that refuses its settings still counts as opened. The record
    // starts zeroed so that a failed query never hands on stack garbage.
    DCB dcb{};
    GetCommState(h, &dcb);
    port_make_dcb(&dcb, baud, bits, parity, stop);
    SetCommState(h, &dcb);
    return 0;
}

void port_close(int32_t port) {
    PortRecord* p = open_entry(port);
    if (p == nullptr) return;
    // DTR and RTS drop before the handle goes, so the far side sees the
    // line released. Without the present settings there is nothing safe to
    // write back, so a failed query skips that step.
    DCB dcb{};
    if (GetCommState(p->handle, &dcb)) {
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        SetCommState(p->handle, &dcb);
    }
    CloseHandle(p->handle);
    p->handle = nullptr;
}

int32_t port_set_timeouts(int32_t port, DWORD read_interval, DWORD read_multiplier, DWORD read_constant,
                          DWORD write_multiplier, DWORD write_constant) {
    PortRecord* p = open_entry(port);
    if (p == nullptr) return -2;
    COMMTIMEOUTS t = {read_interval, read_multiplier, read_constant, write_multiplier, write_constant};
    return SetCommTimeouts(p->handle, &t);
}

int32_t port_read(int32_t port, void* dest, int32_t max) {
    PortRecord* p = open_entry(port);
    if (p == nullptr || max <= 0) return -2;
    if (p->rx_pos == p->rx_end) {
        int64_t count = queued(p->handle);
        if (count < 0) return -2;
        if (count == 0) return 0;
        // Wait while the burst is still arriving, so that one platform read
        // takes the whole reply; a full buffer's worth needs no more waiting.
        int64_t before;
        do {
            Sleep(2);
            before = count;
            count = queued(p->handle);
            if (count < 0) return -2;
        } while (count != before && count < 256);
        DWORD got = 0;
        if (!ReadFile(p->handle, p->rx_buf, static_cast<DWORD>(count < 256 ? count : 256), &got, nullptr))
            return -2;
        // A driver never hands more than asked; the clamp keeps rx_end in
        // the buffer even if one did.
        if (got > 256) got = 256;
        p->bytes_in += got;
        p->rx_pos = p->rx_buf;
        p->rx_end = p->rx_buf + got;
    }
    auto* out = static_cast<uint8_t*>(dest);
    int32_t n = 0;
    while (p->rx_pos < p->rx_end && n < max) out[n++] = *p->rx_pos++;
    return n;
}

int32_t port_getc(int32_t port) {
    uint8_t byte;
    int32_t r = port_read(port, &byte, 1);
    if (r < 0) return -2;
    return r == 1 ? byte : -1;
}

// A device that sends faster than it is read (a USB modem ignores the line
// rate) would never leave the port empty; the time limit keeps the caller
// from waiting on it for ever, and what is still queued is read later. A
// burst already fetched goes whole: the limit only stops further reads.
void port_drain(int32_t port, int32_t max_ms) {
    int64_t deadline = ms_now() + max_ms;
    while (port_getc(port) >= 0) {
        const PortRecord& p = port_table[port];
        if (p.rx_pos == p.rx_end && ms_now() >= deadline) return;
    }
}

// A count below 1 is refused rather than handed to the device as a huge
// unsigned length.
int32_t port_write(int32_t port, const void* data, int32_t count) {
    PortRecord* p = open_entry(port);
    if (p == nullptr || count <= 0) return -2;
    DWORD written = 0;
    if (!WriteFile(p->handle, data, static_cast<DWORD>(count), &written, nullptr)) return -2;
    p->bytes_out += written;
    return static_cast<int32_t>(written);
}

int32_t port_puts(int32_t port, const char* text) {
    text = txt_unscramble(text);
    return port_write(port, text, txt_len(text));
}

int32_t port_putc(int32_t port, int32_t c) {
    uint8_t byte = static_cast<uint8_t>(c);
    return port_write(port, &byte, 1) == 1 ? 0 : -2;
}
