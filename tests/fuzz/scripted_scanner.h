// A scanner on the fake's COM3 that answers each command with the next
// record of a fuzz input, so that the exchange and the polling cycle meet
// whatever a line can bring: any bytes, early, late, in two pieces, or not
// at all once the input is used up. Between answers a record may also
// type a key.
//
// Record: length L, delay code (3 ms a step), the split point and the gap
// (ms) before the second piece, a key code (0: none), then L bytes.
#pragma once

#include <cstdint>
#include <string>

#include "app/monitor.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"

namespace fuzz {

struct Script {
    const uint8_t* p;
    size_t left;
    int answered = 0;
    // A reply byte from 0x80 to 0x9F has come: a reply may then read as a
    // stored text constant, which the text routines rewrite in place.
    bool markers = false;

    bool byte(uint8_t* b) {
        if (left == 0) return false;
        *b = *p++, --left;
        return true;
    }
};

// Keys a user may press while monitoring; never ESC, which ends the run.
inline void type(uint8_t code) {
    static const struct {
        WORD scan;
        char ch;
    } keys[] = {{31, 's'}, {31, 'S'}, {50, 'm'}, {16, 'q'}, {72, 0}, {80, 0}, {45, 'x'}, {2, '1'}, {59, 0}, {28, '\r'}};
    const auto& k = keys[code % (sizeof keys / sizeof keys[0])];
    fake::type_key(k.scan, k.ch);
}

// A fresh fake with the monitor's screen and COM3 open, answered from `script`.
inline void start(Script* script) {
    fake::reset();
    clock_mode = CLOCK_UNPROBED;
    std_init(1);
    scr_out = fake::console_output;
    scr_size(20, 40);
    scr_clear(0x10);
    mon.port_number = 3;
    fake::SerialDevice& line = fake::com(3);
    port_open(3, 38400, 8, 0, 1);
    line.peer = [script](fake::SerialDevice& d, const std::string& sent) {
        if (sent.size() < 4) return;  // a lone carriage return is no command
        uint8_t length, delay, split, gap, key;
        if (!script->byte(&length) || !script->byte(&delay) || !script->byte(&split) || !script->byte(&gap) ||
            !script->byte(&key))
            return;
        std::string bytes;
        for (uint8_t b; length > 0 && script->byte(&b); --length) {
            bytes += static_cast<char>(b);
            script->markers |= b >= 0x80 && b <= 0x9F;
        }
        size_t first = bytes.empty() ? 0 : split % (bytes.size() + 1);
        d.send(bytes.substr(0, first), delay * 3);
        d.send(bytes.substr(first), delay * 3 + gap);
        if (key) type(key);
        ++script->answered;
    };
}

inline void stop() {
    port_close(3);
    // Keys that no exchange got round to reading.
    fake::console.input.clear();
}

}  // namespace fuzz
