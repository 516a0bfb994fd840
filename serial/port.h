// COM ports addressed by number through one static table. Reads never wait
// for data that has not arrived: a whole reply burst is fetched in one
// platform read once it has settled, then served from a 256-byte buffer.
// Writes wait at most 1 ms a byte plus 500 ms. Results: -2 error, -1 no
// byte yet (port_getc), otherwise a count or a byte.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct PortRecord {
    HANDLE handle;       // 0 while closed, never INVALID_HANDLE_VALUE
    uint64_t bytes_in;   // delivered into rx_buf since the last open
    uint64_t bytes_out;  // accepted by the device since the last open
    uint8_t rx_buf[256];
    uint8_t* rx_pos;  // next byte to hand out
    uint8_t* rx_end;  // just past the last valid byte
};

// Indexed by port number 1..255; entry 0 is never used.
extern PortRecord port_table[256];

int16_t port_open(int32_t port, int32_t baud, int32_t bits, int32_t parity, int32_t stop);
// The same for a port known by its name (a device path or a network
// address), opened as \\.\NAME into the slot `port`; null: COM `port`.
int16_t port_open_named(int32_t port, const char* name, int32_t baud, int32_t bits, int32_t parity, int32_t stop);
void port_close(int32_t port);
int32_t port_set_timeouts(int32_t port, DWORD read_interval, DWORD read_multiplier, DWORD read_constant,
                          DWORD write_multiplier, DWORD write_constant);
int32_t port_read(int32_t port, void* dest, int32_t max);
int32_t port_getc(int32_t port);
int32_t port_write(int32_t port, const void* data, int32_t count);
int32_t port_puts(int32_t port, const char* text);
int32_t port_putc(int32_t port, int32_t c);
// Discards pending input until none is left, or, once max_ms have passed,
// until the burst in hand is gone.
void port_drain(int32_t port, int32_t max_ms);
void port_make_dcb(DCB* dcb, int32_t baud, int32_t bits, int32_t parity, int32_t stop);
