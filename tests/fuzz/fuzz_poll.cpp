// The polling cycle fed replies of any bytes, with keys typed between
// them, until the input runs out and the scanner falls silent: the cycle
// must then return (two silent model queries), having drawn only within
// the 20 × 40 screen, and leaving a signal index that the tone can use or
// silence.
//
// Input: a flags byte (models known before, sound output, connected),
// then records as scripted_scanner.h reads them.
#include <cstdlib>
#include <cstring>

#include "expect.h"
#include "scripted_scanner.h"
#include "tests/fake/fake_sound.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return -1;
    static bool pitches = false;
    if (!pitches) build_pitch_table(), pitches = true;
    fuzz::Script script{data + 1, size - 1};
    fuzz::start(&script);
    mon.model_a = data[0] & 1;
    mon.model_b = data[0] >> 1 & 1;
    mon.sound_choice = data[0] >> 2 & 1;
    mon.connected = data[0] >> 3 & 1;
    mon.lost_count = 0;
    mon.signal_fail_count = 0;
    mon.signal_index = 0;
    mon.beep_mode = data[0] >> 4 & 3;
    mon.volume = 0;
    mon.muted = 0;
    mon.current_baud = 38400;
    mon.last_title[0] = 0;

    poll_cycle();

    // It gives up only after two model queries in a row have failed.
    const std::string& sent = fake::com(3).received;
    EXPECT(sent.size() >= 8 && sent.compare(sent.size() - 8, 8, "IDN\rIDN\r") == 0);
    EXPECT(fake::console.size.X == 40 && fake::console.size.Y == 20);
    EXPECT(strlen(mon.last_title) < 256 && fake::console.title == mon.last_title);
    // The tone plays only readings of its table; anything else is silence.
    int32_t index = tone_index(mon.signal_index.load(), mon.muted.load());
    EXPECT(index >= 0 && index <= 1023);
    EXPECT(mon.volume.load() >= 0 && mon.volume.load() <= 100);
    EXPECT(mon.beep_mode >= 0 && mon.beep_mode <= 5);
    // Beeps sound a pitch of the table, or the 1000 Hz of an unknown key.
    for (const auto& beep : fake::beeps) {
        bool known = beep.first == 1000;
        for (int32_t pitch : mon.pitch_table) known |= beep.first == static_cast<DWORD>(pitch);
        EXPECT(known && beep.second > 0);
    }
    fuzz::stop();
    return 0;
}
