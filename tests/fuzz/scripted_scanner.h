// A scanner on the fake's COM3 that answers each command with the next
// record of a fuzz input, so that the exchange and the polling cycle meet
// whatever a line can bring: any bytes, early, late, in two pieces, or not
// at all once the input is used up. Between answers a record may also
// type a key (never ESC, which ends the run).
// Record: length L, delay code (3 ms a step), the split point and the gap
// (ms) before the second piece, a key code (0: none), then L bytes.
#pragma once

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
    bool markers = false;  // a reply byte from 0x80 to 0x9F came: a reply may read as a stored text
    bool byte(uint8_t* b) { return left > 0 && (*b = *p++, --left, true); }
};

inline void start(Script* script) {  // a fresh fake, the monitor's screen and COM3 answered from `script`
    fake::reset();
    clock_mode = CLOCK_UNPROBED;
    std_init(1);
    scr_out = fake::console_output;
    scr_size(20, 40);
    scr_clear(0x10);
    mon.port_number = 3;
    fake::SerialDevice& line = fake::com(3);  // made before the port opens on it
    port_open(3, 38400, 8, 0, 1);
    line.peer = [script](fake::SerialDevice& d, const std::string& sent) {
        uint8_t length, delay, split, gap, key;
        if (sent.size() < 4 || !script->byte(&length) || !script->byte(&delay) || !script->byte(&split) ||
            !script->byte(&gap) || !script->byte(&key))
            return;  // a lone carriage return is no command
        std::string bytes;
        for (uint8_t b; length > 0 && script->byte(&b); --length) bytes += static_cast<char>(b);
        for (unsigned char b : bytes) script->markers |= b >= 0x80 && b <= 0x9F;
        size_t first = split % (bytes.size() + 1);
        d.send(bytes.substr(0, first), delay * 3);
        d.send(bytes.substr(first), delay * 3 + gap);
        static const std::pair<WORD, char> keys[] = {{31, 's'}, {31, 'S'}, {50, 'm'}, {16, 'q'}, {72, 0},
                                                      {80, 0},   {45, 'x'}, {2, '1'},  {59, 0},  {28, '\r'}};
        if (key) fake::type_key(keys[key % 10].first, keys[key % 10].second);
    };
}

inline void stop() { port_close(3), fake::console.input.clear(); }  // and the keys no exchange read
}  // namespace fuzz
