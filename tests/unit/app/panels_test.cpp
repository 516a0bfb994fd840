// The panels and the keyboard commands over the fake console: what each
// reading draws where, the beeps of Beep output, and what each key does.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/monitor.h"
#include "console/keys.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_sound.h"

namespace {

const std::string kFull(1, static_cast<char>(219)), kLeft(1, static_cast<char>(221)),
    kRight(1, static_cast<char>(222));

std::string repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

class Panels : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        std_init(1);
        scr_out = fake::console_output;
        scr_size(20, 40);
        scr_clear(0x10);
        mon.model_a = mon.model_b = 0;
        mon.sound_choice = 1;
        mon.beep_mode = 0;
        mon.volume = 0;
        mon.muted = 0;
        mon.reading_count = 0;
        build_pitch_table();
    }
    // Row and column from 1, as the program counts them.
    std::string text(int row, int column, int n) { return fake::console_line(row - 1).substr(column - 1, n); }
    uint16_t colour(int row, int column) { return scr_attrs[(row - 1) * 40 + column - 1]; }
};

TEST_F(Panels, LevelVerdictsFollowTheModel) {
    struct Case {
        int16_t a, b;
        int32_t level;
        int32_t colour;  // of the verdict
    };
    const Case cases[] = {{1, 0, 290, 0x1B},   {1, 0, 291, 0xFF1C}, {1, 0, 220, 0x1B},  {1, 0, 219, 0xFF1E},
                          {0, 1, 435, 0x1B},   {0, 1, 436, 0xFF1C}, {0, 1, 350, 0x1B},  {0, 1, 349, 0xFF1E},
                          {1, 1, 300, 0xFF1E}};  // both: A says high, B says low, and B stays
    for (const Case& c : cases) {
        scr_clear(0x10);
        mon.model_a = c.a;
        mon.model_b = c.b;
        draw_level_panel(c.level);
        EXPECT_EQ(text(7, 11, 6), (c.level < 1000 ? "  " : " ") + std::to_string(c.level) + " ") << c.level;
        EXPECT_EQ(colour(7, 20), scr_colour_pair(c.colour)) << c.a << c.b << " " << c.level;
        EXPECT_NE(text(7, 17, 24), std::string(24, ' '));
    }
}

TEST_F(Panels, LevelWithoutAModelOrBelowTenHasNoVerdict) {
    draw_level_panel(300);
    EXPECT_EQ(colour(7, 11), scr_colour_pair(0x1C));
    EXPECT_EQ(text(7, 11, 30).size(), 30u);
    EXPECT_NE(text(7, 11, 30), std::string(30, ' '));
    scr_clear(0x10);
    mon.model_a = 1;
    draw_level_panel(9);
    EXPECT_EQ(colour(7, 11), scr_colour_pair(0x1E));
    EXPECT_EQ(colour(7, 40), scr_colour_pair(0x1E));  // the text reaches the last column
}

TEST_F(Panels, TuningBarGrowsFromTheCentreMark) {
    draw_tuning_panel(100, 4000000);  // centred, above 380 MHz: the mark alone
    EXPECT_EQ(text(13, 2, 39), std::string(18, ' ') + "|" + std::string(20, ' '));
    draw_tuning_panel(100, 1462500);  // centred below: the scale text, then nothing
    std::string scale = text(13, 2, 19);
    EXPECT_EQ(scale.back(), '|');
    EXPECT_EQ(text(13, 21, 20), std::string(19, ' ') + " ");

    draw_tuning_panel(64, 1462500);  // far off, low side: 18 blocks up to the mark
    EXPECT_EQ(text(13, 2, 19), repeat(kFull, 18) + "|");
    draw_tuning_panel(0, 1462500);   // capped at 36
    EXPECT_EQ(text(13, 2, 19), repeat(kFull, 18) + "|");
    draw_tuning_panel(99, 1462500);  // one off: a right half block against the mark
    EXPECT_EQ(text(13, 2, 19), std::string(17, ' ') + kRight + "|");
    draw_tuning_panel(101, 1462500);  // the other side: behind the scale
    EXPECT_EQ(text(13, 2, 21), scale + kLeft + " ");
    draw_tuning_panel(136, 1462500);
    EXPECT_EQ(text(13, 21, 20), repeat(kFull, 18) + "  ");
    EXPECT_EQ(text(11, 10, 5), "136  ");
}

TEST_F(Panels, OffsetEstimateOnlyForModelBOutsideBroadcastBand) {
    mon.model_b = 1;
    draw_tuning_panel(90, 4000000);
    EXPECT_EQ(text(11, 15, 26), "~5550 Hz high" + std::string(13, ' '));
    draw_tuning_panel(90, 3800000);  // not above 3.8 MHz for the side, but 556 for the factor
    EXPECT_EQ(text(11, 15, 26), "~5550 Hz low" + std::string(14, ' '));
    draw_tuning_panel(110, 1462500);
    EXPECT_EQ(text(11, 15, 26), "~3550 Hz high" + std::string(13, ' '));
    draw_tuning_panel(90, 1000000);  // broadcast band: none
    EXPECT_EQ(text(11, 15, 26), std::string(26, ' '));
    draw_tuning_panel(99, 1462500);  // too close to judge
    EXPECT_EQ(text(11, 15, 26), std::string(26, ' '));
    draw_tuning_panel(50, 1462500);  // too far to judge
    EXPECT_EQ(text(11, 15, 26), std::string(26, ' '));
    mon.model_b = 0;
    draw_tuning_panel(90, 4000000);
    EXPECT_EQ(text(11, 15, 26), std::string(26, ' '));
}

TEST_F(Panels, SignalBarIsAlways39CharactersWideAndStopsAtTheScale) {
    draw_signal_bar(13);
    EXPECT_EQ(text(17, 2, 39), std::string(39, ' '));
    draw_signal_bar(14);
    EXPECT_EQ(text(17, 2, 39), kLeft + std::string(38, ' '));
    draw_signal_bar(1023);
    EXPECT_EQ(text(17, 2, 39), repeat(kFull, 37) + kLeft + " ");
    EXPECT_EQ(mon.reading_count, 3);
    for (int32_t outside : {1024, -1, 2147483647}) {
        draw_signal_bar(outside);
        EXPECT_EQ(text(17, 2, 39), repeat(kFull, 37) + kLeft + " ") << outside;
    }
    EXPECT_EQ(mon.reading_count, 3);
}

TEST_F(Panels, BeepModesCountReadingsSinceStartUp) {
    mon.sound_choice = 0;
    mon.beep_mode = 1;  // every 8th
    for (int i = 0; i < 16; ++i) draw_signal_bar(400);
    ASSERT_EQ(fake::beeps.size(), 2u);
    EXPECT_EQ(fake::beeps[0], std::make_pair(DWORD(1086), DWORD(20)));
    mon.beep_mode = 3;  // every 2nd, counted on from 16
    draw_signal_bar(0);
    draw_signal_bar(0);
    EXPECT_EQ(fake::beeps.size(), 3u);
    EXPECT_EQ(fake::beeps[2].first, 80u);
    mon.beep_mode = 0;
    for (int i = 0; i < 8; ++i) draw_signal_bar(400);
    EXPECT_EQ(fake::beeps.size(), 3u);
    mon.sound_choice = 1;  // tone output never beeps
    mon.beep_mode = 4;
    draw_signal_bar(400);
    EXPECT_EQ(fake::beeps.size(), 3u);
}

TEST_F(Panels, SoundPanelShowsModeOrVolume) {
    mon.volume = 42;
    draw_sound_panel();
    EXPECT_EQ(text(15, 23, 17), "Volume:  42%     ");
    mon.muted = 1;
    draw_sound_panel();
    EXPECT_EQ(text(15, 31, 9), "muted    ");
    mon.sound_choice = 0;
    mon.beep_mode = 5;
    draw_sound_panel();
    EXPECT_EQ(text(15, 30, 10), txt_unscramble(const_cast<char*>(mon.mode_names[5])));
}

class Commands : public Panels {
protected:
    void SetUp() override {
        Panels::SetUp();
        while (key_read(nullptr) != -1) {
        }
    }
    void type(WORD scan, char ch, int times = 1) {
        for (int i = 0; i < times; ++i) fake::type_key(scan, ch);
    }
};

TEST_F(Commands, ModeKeyStepsDownwardsAndRedrawsAtOnce) {
    mon.sound_choice = 0;
    type(31, 's');
    handle_keys();
    EXPECT_EQ(mon.beep_mode, 5);
    EXPECT_EQ(text(15, 30, 10), txt_unscramble(const_cast<char*>(mon.mode_names[5])));
    type(31, 'S', 5);
    handle_keys();
    EXPECT_EQ(mon.beep_mode, 0);
}

TEST_F(Commands, VolumeKeysStopAtTheirLimitsWithoutBeeping) {
    type(72, 0, 5);  // Up
    handle_keys();
    EXPECT_EQ(mon.volume.load(), 5);
    mon.volume = 100;
    type(72, 0);
    handle_keys();
    EXPECT_EQ(mon.volume.load(), 100);
    mon.volume = 0;
    type(80, 0);  // Down
    handle_keys();
    EXPECT_EQ(mon.volume.load(), 0);
    EXPECT_TRUE(fake::beeps.empty());
}

TEST_F(Commands, MuteTogglesAndOtherKeysBeep) {
    type(50, 'm');
    handle_keys();
    EXPECT_EQ(mon.muted.load(), 1);
    type(16, 'Q');
    handle_keys();
    EXPECT_EQ(mon.muted.load(), 0);
    type(59, 0);  // F1
    type(30, 'a');
    handle_keys();
    EXPECT_EQ(fake::beeps, (std::vector<std::pair<DWORD, DWORD>>{{1000, 10}, {1000, 10}}));
}

TEST_F(Commands, EscapeWaitsForTheToneThreadThenEndsWithZero) {
    std::atomic<bool> tone_closed{false};
    std::thread tone([&] {
        while (mon.quit_flag.load() != 1) std::this_thread::yield();
        tone_closed = true;
        mon.quit_flag = 0;
    });
    type(1, 27);
    int code = -1;
    try {
        handle_keys();
    } catch (const fake::Exit& e) {
        code = e.code;
    }
    tone.join();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(tone_closed.load());
}

}  // namespace
