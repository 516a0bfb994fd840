// The polling cycle fed replies of any bytes, with keys typed between
// them, until the input runs out and the scanner falls silent: the cycle
// must then return (two silent model queries) with the title it set, the
// volume and beep mode in their ranges, and having beeped only known pitches.
// Input: a flags byte (models known before, sound output, connected, beep
// mode), then records as scripted_scanner.h reads them.
#include <cstring>
#include "expect.h"
#include "scripted_scanner.h"
#include "tests/fake/fake_sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return -1;
    static bool pitches = (build_pitch_table(), true);
    fuzz::Script script{data + 1, size - 1};
    fuzz::start(&script);
    mon.model_a = data[0] & 1;
    mon.model_b = data[0] >> 1 & 1;
    mon.sound_choice = data[0] >> 2 & 1;
    mon.connected = data[0] >> 3 & 1;
    mon.beep_mode = data[0] >> 4 & 3;
    mon.lost_count = mon.signal_fail_count = mon.signal_index = mon.volume = mon.muted = 0;
    mon.current_baud = 38400;
    mon.last_title[0] = 0;
    poll_cycle();

    const std::string& sent = fake::com(3).received;  // it gives up after two model queries in a row fail
    EXPECT(pitches && sent.size() >= 8 && sent.compare(sent.size() - 8, 8, "IDN\rIDN\r") == 0);
    EXPECT(strlen(mon.last_title) < 256 && fake::console.title == mon.last_title);
    EXPECT(mon.volume.load() >= 0 && mon.volume.load() <= 100 && mon.beep_mode >= 0 && mon.beep_mode <= 5);
    // Beeps sound a pitch of the table, or the 1000 Hz of an unknown key.
    for (const auto& beep : fake::beeps) {
        bool known = beep.first == 1000;
        for (int32_t pitch : mon.pitch_table) known |= beep.first == static_cast<DWORD>(pitch);
        EXPECT(known && beep.second > 0);
    }
    fuzz::stop();
    return 0;
}
