// The telnet decoder of the RFC 2217 client: one byte at a time through a
// small state machine, so that a stream cut anywhere resumes where it was.
#include "platform/posix/telnet.h"

namespace posix {

namespace {

enum Mode : uint8_t { DATA, COMMAND, OPTION, SUB, SUB_COMMAND };

bool wanted(uint8_t verb, uint8_t option) {
    // We asked for binary and suppress-go-ahead both ways ourselves, and
    // offered COM-PORT-OPTION: the server agreeing needs no answer.
    if (option == TELNET_BINARY || option == TELNET_SGA) return true;
    return option == COM_PORT_OPTION && (verb == TELNET_DO || verb == TELNET_WILL);
}

// An option request from the server. What we do not want is refused once
// per option and side, so that two peers can never answer each other for ever.
void negotiate(TelnetState& s, uint8_t verb, uint8_t option, uint8_t* reply, size_t* n) {
    if (option == COM_PORT_OPTION) {
        if (verb == TELNET_DO) s.com_port = true;
        if (verb == TELNET_DONT) s.com_port_refused = true;
    }
    if ((verb != TELNET_WILL && verb != TELNET_DO) || wanted(verb, option)) return;
    int side = verb == TELNET_DO ? 0 : 1;
    uint8_t bit = uint8_t(1u << (option & 7));
    if (s.refused[side][option >> 3] & bit) return;
    s.refused[side][option >> 3] |= bit;
    reply[(*n)++] = TELNET_IAC;
    reply[(*n)++] = verb == TELNET_DO ? TELNET_WONT : TELNET_DONT;
    reply[(*n)++] = option;
}

// A finished subnegotiation: only the server's line reports matter.
void report(TelnetState& s) {
    if (s.sb_length > sizeof s.sb || s.sb_length < 3 || s.sb[0] != COM_PORT_OPTION) return;
    const uint8_t* v = s.sb + 2;
    switch (s.sb[1]) {
        case CPO_SERVER + CPO_SET_BAUDRATE:
            if (s.sb_length != 6) return;
            s.baud = uint32_t(v[0]) << 24 | uint32_t(v[1]) << 16 | uint32_t(v[2]) << 8 | v[3];
            s.reported |= REPORTED_BAUD;
            break;
        case CPO_SERVER + CPO_SET_DATASIZE:
            if (s.sb_length == 3) s.datasize = v[0], s.reported |= REPORTED_DATASIZE;
            break;
        case CPO_SERVER + CPO_SET_PARITY:
            if (s.sb_length == 3) s.parity = v[0], s.reported |= REPORTED_PARITY;
            break;
        case CPO_SERVER + CPO_SET_STOPSIZE:
            if (s.sb_length == 3) s.stopsize = v[0], s.reported |= REPORTED_STOPSIZE;
            break;
        default: break;
    }
}

// The byte after an IAC.
void command(TelnetState& s, uint8_t b, uint8_t* data, size_t* n) {
    s.mode = DATA;
    if (b == TELNET_IAC) data[(*n)++] = b;
    else if (b == TELNET_SB) s.mode = SUB, s.sb_length = 0;
    else if (b >= TELNET_WILL) s.mode = OPTION, s.verb = b;
    // NOP, GA, a stray SE and the like carry nothing for us.
}

void sub_byte(TelnetState& s, uint8_t b) {
    if (s.sb_length < sizeof s.sb) s.sb[s.sb_length] = b;
    if (s.sb_length <= sizeof s.sb) ++s.sb_length;
}

}  // namespace

size_t telnet_decode(TelnetState& s, const uint8_t* in, size_t count, uint8_t* data, uint8_t* reply,
                     size_t* reply_count) {
    size_t n = 0;
    *reply_count = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t b = in[i];
        switch (s.mode) {
            case DATA:
                if (b == TELNET_IAC) s.mode = COMMAND;
                else data[n++] = b;
                break;
            case COMMAND: command(s, b, data, &n); break;
            case OPTION:
                s.mode = DATA;
                negotiate(s, s.verb, b, reply, reply_count);
                break;
            case SUB:
                if (b == TELNET_IAC) s.mode = SUB_COMMAND;
                else sub_byte(s, b);
                break;
            default:  // SUB_COMMAND
                if (b == TELNET_IAC) {
                    s.mode = SUB;
                    sub_byte(s, b);
                } else if (b == TELNET_SE) {
                    s.mode = DATA;
                    report(s);
                } else {
                    // A command inside a subnegotiation: the server broke it
                    // off. Drop it and take the byte as the command it is.
                    command(s, b, data, &n);
                }
                break;
        }
    }
    return n;
}

size_t telnet_com_port_command(uint8_t* out, uint8_t command, const uint8_t* value, size_t length) {
    size_t n = 0;
    out[n++] = TELNET_IAC;
    out[n++] = TELNET_SB;
    out[n++] = COM_PORT_OPTION;
    out[n++] = command;
    for (size_t i = 0; i < length; ++i) {
        if (value[i] == TELNET_IAC) out[n++] = TELNET_IAC;
        out[n++] = value[i];
    }
    out[n++] = TELNET_IAC;
    out[n++] = TELNET_SE;
    return n;
}

}  // namespace posix
