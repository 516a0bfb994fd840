// The scanner line fed replies of any bytes, keys typed between them. One
// query at a time: a reply is a line of at most 127 characters, or a
// failure with its text, within its deadline and one settling read. Or a
// polling cycle until the input runs out: it returns, title, volume, beep
// mode and pitches as they may be.
// Input: a flags byte (models known before, sound output, connected, beep
// mode; the top bit: the polling cycle), then, for single queries, pairs of
// (query, record), else records. Record: length L, delay code (3 ms a
// step), the split point and the gap (ms) before the second piece, a key
// code (0: none; never ESC, which ends the run), then L bytes.
#include <cstring>
#include <string>
#include "app/monitor.h"
#include "console/screen.h"
#include "expect.h"
#include "runtime/out.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"
#include "tests/fake/fake_sound.h"

namespace {
struct Script {
    const uint8_t* p;
    size_t left;
    bool byte(uint8_t* b) { return left > 0 && (*b = *p++, --left, true); }
};

void start(Script* script) {  // a fresh fake, the monitor's screen and COM3 answered from `script`
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
        size_t first = split % (bytes.size() + 1);
        d.send(bytes.substr(0, first), delay * 3);
        d.send(bytes.substr(first), delay * 3 + gap);
        static const std::pair<WORD, char> keys[] = {{31, 's'}, {31, 'S'}, {50, 'm'}, {16, 'q'}, {72, 0},
                                                      {80, 0},   {45, 'x'}, {2, '1'},  {59, 0},  {28, '\r'}};
        if (key) fake::type_key(keys[key % 10].first, keys[key % 10].second);
    };
}

void queries(Script* script) {
    for (uint8_t op; script->byte(&op);) {
        char reply[256] = "never written";
        int64_t start = ms_now();
        int16_t model_a = mon.model_a, model_b = mon.model_b;
        int32_t r, level = 12345;
        static char unknown[] = "ABC";
        switch (op % 6) {
            case 0: r = query_model(reply); break;
            case 1: r = query_info(reply); break;
            case 2: r = query_level(&level); break;
            case 3: r = query_tuning(reply); break;
            case 4: r = query_signal(reply); break;
            default: r = scanner_query(unknown, reply); break;
        }
        const bool failure_text = !strcmp(reply, "[timeout]") || !strcmp(reply, "[reply overflows]");
        const size_t n = strlen(reply);
        if (op % 6 == 2) {
            EXPECT(r == 0 || level == 12345);  // a failure leaves the level as it was
        } else if (r != 0 && op % 6 != 4) {
            EXPECT(failure_text);
        } else if (op % 6 == 3) {
            EXPECT(n >= 12 && n <= 127 && !strchr(reply, ',') && !strchr(reply, '\r'));
        } else if (!failure_text) {  // one line of the scanner's text, kept by a failing signal query
            EXPECT(n <= 127 && !strchr(reply, '\r') && !strchr(reply, '\n'));
            // The signal reading is taken from the fifth character of a line with its code.
            if (op % 6 == 4) EXPECT((r == 0) == (strstr(reply, "SIG") && n >= 5));
        }
        if (op % 6 == 0 && r == 0)
            EXPECT(mon.model_a == !!strstr(reply, "A10") && mon.model_b == !!strstr(reply, "B20"));
        if (op % 6 == 0 && r != 0) EXPECT(mon.model_a == model_a && mon.model_b == model_b);
        // The fixed deadline, plus what the read that straddles it and the
        // draining of late bytes may take on a line that keeps trickling.
        EXPECT(ms_now() - start <= 2600);
        // The command went out whole: three characters and a carriage return.
        const std::string& sent = fake::com(3).received;
        EXPECT(sent.size() >= 4 && sent.back() == '\r');
    }
}

void polling_cycle() {
    mon.lost_count = mon.signal_fail_count = mon.signal_index = mon.volume = mon.muted = 0;
    mon.current_baud = 38400;
    mon.last_title[0] = 0;
    poll_cycle();
    const std::string& sent = fake::com(3).received;  // it gives up after two model queries in a row fail
    EXPECT(sent.size() >= 8 && sent.compare(sent.size() - 8, 8, "IDN\rIDN\r") == 0);
    EXPECT(strlen(mon.last_title) < 256 && fake::console.title == mon.last_title);
    EXPECT(mon.volume.load() >= 0 && mon.volume.load() <= 100 && mon.beep_mode >= 0 && mon.beep_mode <= 5);
    // Beeps sound a pitch of the table, or the 1000 Hz of an unknown key.
    for (const auto& beep : fake::beeps) {
        bool known = beep.first == 1000;
        for (int32_t pitch : mon.pitch_table) known |= beep.first == static_cast<DWORD>(pitch);
        EXPECT(known && beep.second > 0);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return -1;
    static bool pitches = (build_pitch_table(), true);
    Script script{data + 1, size - 1};
    start(&script);
    mon.model_a = data[0] & 1;
    mon.model_b = data[0] >> 1 & 1;
    mon.sound_choice = data[0] >> 2 & 1;
    mon.connected = data[0] >> 3 & 1;
    mon.beep_mode = data[0] >> 4 & 3;
    if (pitches && data[0] & 0x80) polling_cycle();
    else queries(&script);
    port_close(3), fake::console.input.clear();  // and the keys no exchange read
    return 0;
}
