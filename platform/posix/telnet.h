// What an RFC 2217 server sends, taken apart: telnet commands, option
// negotiation and COM-PORT-OPTION reports, with the serial data in between.
// The bytes come from the network and are not trusted: any byte may come
// anywhere, and a stream may be cut at any point between two calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace posix {

enum : uint8_t {
    TELNET_SE = 240,
    TELNET_SB = 250,
    TELNET_WILL = 251,
    TELNET_WONT = 252,
    TELNET_DO = 253,
    TELNET_DONT = 254,
    TELNET_IAC = 255,
    TELNET_BINARY = 0,
    TELNET_SGA = 3,
    COM_PORT_OPTION = 44,
    // Client commands; the server's reports are these plus 100.
    CPO_SET_BAUDRATE = 1,
    CPO_SET_DATASIZE = 2,
    CPO_SET_PARITY = 3,
    CPO_SET_STOPSIZE = 4,
    CPO_SET_CONTROL = 5,
    CPO_SERVER = 100,
};

// Bits of TelnetState::reported: the line settings the server has reported.
enum : uint8_t { REPORTED_BAUD = 1, REPORTED_DATASIZE = 2, REPORTED_PARITY = 4, REPORTED_STOPSIZE = 8 };

struct TelnetState {
    uint8_t mode = 0;  // where the last byte left a command
    uint8_t verb = 0;  // WILL, WONT, DO or DONT waiting for its option
    uint8_t sb[8] = {};
    uint8_t sb_length = 0;  // counts past sizeof sb: a longer report is ignored
    uint8_t refused[2][32] = {};  // options already refused (DONT, WONT): once each, no loops
    bool com_port = false;          // the server agreed to COM-PORT-OPTION
    bool com_port_refused = false;  // the server refused it
    // The line as the server last reported it, in COM-PORT-OPTION's codes.
    uint32_t baud = 0;
    uint8_t datasize = 0, parity = 0, stopsize = 0;
    uint8_t reported = 0;  // REPORTED_* bits; the caller clears those it awaits
};

// Takes `count` bytes from the server. Serial data goes to `data` (room for
// `count` bytes), the answers the server's requests need go to `reply` (room
// for `count` + 2 bytes); returns the data count and sets *reply_count.
size_t telnet_decode(TelnetState& state, const uint8_t* in, size_t count, uint8_t* data, uint8_t* reply,
                     size_t* reply_count);

// Appends one COM-PORT-OPTION command with its value to `out`, doubling
// any IAC inside it; returns the bytes written (at most 6 + 2 × length).
size_t telnet_com_port_command(uint8_t* out, uint8_t command, const uint8_t* value, size_t length);

}  // namespace posix
