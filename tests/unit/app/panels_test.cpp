// The panels and keyboard commands over the fake console (what each reading
// draws where, the beeps of Beep output, what each key does), and the pitch
// table and tone buffers.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "app/monitor.h"
#include "console/keys.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_sound.h"

namespace {

const std::string kLeft(1, char(221)), kRight(1, char(222));
std::string full(int n) { return std::string(size_t(n), char(219)); }

struct Panels : ::testing::Test {
    void SetUp() override {
        fake::reset();
        std_init(1);
        while (key_read(nullptr) != -1) {
        }
        scr_out = fake::console_output;
        scr_size(20, 40);
        mon.model_a = mon.model_b = mon.muted = 0;
        mon.sound_choice = 1;
        mon.beep_mode = mon.volume = mon.reading_count = 0;
        build_pitch_table();
    }
    // Row and column from 1, as the program counts them.
    std::string text(int row, int column, int n) { return fake::console_line(row - 1).substr(column - 1, n); }
    int colour(int row, int column) { return fake::console_attr(row - 1, column - 1); }
};

TEST_F(Panels, LevelVerdictsFollowTheModel) {
    const struct { int16_t a, b; int32_t level; int colour; } cases[] = {  // of the verdict's first cell
        {1, 0, 290, 0x1B}, {1, 0, 291, 0x1C}, {1, 0, 220, 0x1B}, {1, 0, 219, 0x1E}, {0, 1, 435, 0x1B},
        {0, 1, 436, 0x1C}, {0, 1, 350, 0x1B}, {0, 1, 349, 0x1E}, {1, 1, 300, 0x1E},  // B's verdict stays
        {1, 0, 10, 0x1E}, {0, 0, 300, 0x1C}, {1, 0, 9, 0x1E}};  // no model, no reading: a text of their own
    for (const auto& c : cases) {
        mon.model_a = c.a, mon.model_b = c.b;
        draw_level_panel(c.level);
        const int at = c.a || c.b ? c.level >= 10 ? 19 : 11 : 11;
        EXPECT_EQ(colour(7, at), c.colour) << c.a << c.b << " " << c.level;
        if (at == 19) {
            const std::string digits = std::to_string(c.level);
            EXPECT_EQ(text(7, 11, 6), std::string(5 - digits.size(), ' ') + digits + " ");
        }
    }
}

TEST_F(Panels, TuningBarGrowsFromTheCentreMarkWithAnOffsetEstimateForModelB) {
    mon.model_b = 1;
    draw_tuning_panel(100, 1462500);  // centred: the scale text left of the mark
    const std::string scale = text(13, 2, 19);
    EXPECT_EQ(scale.back(), '|');
    const struct { int32_t reading, frequency; std::string bar, estimate; } cases[] = {
        {99, 1462500, std::string(17, ' ') + kRight + "|" + std::string(20, ' '), ""},  // too close to judge
        {101, 1462500, scale + kLeft + std::string(19, ' '), ""},
        {50, 1462500, full(18) + "|" + std::string(20, ' '), ""},  // far off: 18 blocks, too far to judge
        {INT_MIN, 1462500, full(18) + "|" + std::string(20, ' '), ""},  // no overflow of the distance
        {90, 4000000, std::string(18, ' ') + "|" + full(5) + std::string(15, ' '), "~5550 Hz high"},  // above 380 MHz
        {90, 3800000, std::string(13, ' ') + full(5) + "|" + std::string(20, ' '), "~5550 Hz low"},
        {110, 1462500, scale + full(5) + std::string(15, ' '), "~3550 Hz high"},
        {90, 1000000, std::string(13, ' ') + full(5) + "|" + std::string(20, ' '), ""},  // broadcast band
        {90, 1090000, std::string(13, ' ') + full(5) + "|" + std::string(20, ' '), "~3550 Hz low"}};
    for (const auto& c : cases) {
        draw_tuning_panel(c.reading, c.frequency);
        EXPECT_EQ(text(13, 2, 39), c.bar) << c.reading << " at " << c.frequency;
        EXPECT_EQ(text(11, 15, 26), c.estimate + std::string(26 - c.estimate.size(), ' ')) << c.reading;
    }
    EXPECT_EQ(text(11, 10, 5), " 90  ");
}

TEST_F(Panels, SignalBarIs39WideStopsAtTheScaleAndBeepsByModeAsReadingsCount) {
    for (auto [signal, bar] : {std::pair{13, std::string(39, ' ')}, {14, kLeft + std::string(38, ' ')},
                               {1023, full(37) + kLeft + " "}, {1024, full(37) + kLeft + " "},
                               {-1, full(37) + kLeft + " "}}) {
        draw_signal_bar(signal);
        EXPECT_EQ(text(17, 2, 39), bar) << signal;
    }
    EXPECT_EQ(mon.reading_count, 3);
    EXPECT_EQ(text(15, 23, 17), "Volume:   0%     ");
    EXPECT_TRUE(fake::beeps.empty()) << "tone output beeps";
    mon.sound_choice = 0, mon.beep_mode = 1;  // every 8th
    for (int i = 0; i < 13; ++i) draw_signal_bar(400);
    EXPECT_EQ(fake::beeps, (std::vector<std::pair<DWORD, DWORD>>{{1086, 20}, {1086, 20}}));
    mon.beep_mode = 3;  // every 2nd, counted on from 16
    draw_signal_bar(0), draw_signal_bar(0);
    EXPECT_EQ(fake::beeps.size(), 3u);
    EXPECT_EQ(fake::beeps[2].first, 80u);
    mon.beep_mode = 0;
    for (int i = 0; i < 8; ++i) draw_signal_bar(400);
    mon.beep_mode = 5;  // continuous
    draw_signal_bar(400);
    EXPECT_EQ(fake::beeps.size(), 4u);
}

TEST_F(Panels, KeysStepTheModeChangeTheVolumeWithinItsLimitsMuteAndBeep) {
    mon.sound_choice = 0;
    fake::type_key(31, 's');
    handle_keys();
    EXPECT_EQ(mon.beep_mode, 5);
    EXPECT_EQ(text(15, 23, 17), "Beeps: continuous");
    for (int i = 0; i < 5; ++i) fake::type_key(31, 'S');
    for (int i = 0; i < 101; ++i) fake::type_key(72, 0);  // Up
    for (char c : {'m', 'Q', 'q'}) fake::type_key(50, c);
    handle_keys();
    EXPECT_EQ(mon.beep_mode, 0);
    EXPECT_EQ(mon.volume.load(), 100);
    EXPECT_EQ(mon.muted.load(), 1);
    mon.volume = 1;
    fake::type_key(80, 0), fake::type_key(80, 0);  // Down
    handle_keys();
    EXPECT_EQ(mon.volume.load(), 0);
    EXPECT_TRUE(fake::beeps.empty());
    fake::type_key(59, 0), fake::type_key(30, 'a');  // F1, A
    handle_keys();
    EXPECT_EQ(fake::beeps, (std::vector<std::pair<DWORD, DWORD>>{{1000, 10}, {1000, 10}}));
}

TEST_F(Panels, EscapeWaitsForTheToneThreadThenEnds) {
    std::atomic<bool> tone_closed{false};
    std::thread tone([&] {  // closes its device a little after it is asked to
        for (int i = 0; i < 1000 && mon.quit_flag.load() != 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        tone_closed = true;
        mon.quit_flag = 0;
    });
    tone_started = true;
    fake::type_key(1, 27);
    bool closed_at_exit = false;
    try {
        handle_keys();
    } catch (const fake::Exit& e) {
        closed_at_exit = tone_closed.load() && e.code == 0;
    }
    tone.join();
    EXPECT_TRUE(closed_at_exit);
}

// The tone's pitch for a reading; its sound is measured on the backend.
TEST(Tone, PitchTableRisesFrom80HzByOneHertzThenBySixPerMilleAndMutingSilences) {
    build_pitch_table();
    for (int i = 0; i <= 87; ++i) EXPECT_EQ(mon.pitch_table[i], 80 + i) << i;
    EXPECT_EQ(std::vector<int>({mon.pitch_table[100], mon.pitch_table[1023]}), std::vector<int>({180, 45123}));
    for (auto [signal, muted, index] : {std::tuple{512, 0, 512}, {512, 1, 0}, {1024, 0, 0}, {-1, 0, 0}})
        EXPECT_EQ(tone_index(signal, int16_t(muted)), index) << signal;
}

}  // namespace
