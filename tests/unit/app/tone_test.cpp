// The pitch table and the tone buffers.
#include <gtest/gtest.h>

#include <vector>

#include "app/monitor.h"

namespace {

TEST(PitchTable, RisesFrom80HzByOneHertzThenBySixPerMille) {
    build_pitch_table();
    const int32_t* t = mon.pitch_table;
    for (int i = 0; i <= 87; ++i) EXPECT_EQ(t[i], 80 + i) << i;
    const std::pair<int, int32_t> rows[] = {{100, 180},   {200, 328},   {300, 597},   {400, 1086},
                                            {500, 1975},  {600, 3593},  {700, 6535},  {800, 11886},
                                            {900, 21619}, {1000, 39323}, {1023, 45123}};
    for (auto [i, hz] : rows) EXPECT_EQ(t[i], hz) << i;
    for (int i = 1; i < 1024; ++i) EXPECT_GT(t[i], t[i - 1]) << i;
}

TEST(ToneBuffer, PhaseStepIsRoundedToTheNearestUnit) {
    EXPECT_EQ(tone_increment(81, 96000), 304);  // (81 × 360000 + 48000) / 96000
    EXPECT_EQ(tone_increment(1000, 48000), 7500);
    EXPECT_EQ(tone_increment(45123, 44100), 368351);  // above the rate: over a whole cycle
}

TEST(ToneBuffer, SquareWaveEndsAtPhaseZeroAtTheGivenVolume) {
    std::vector<int16_t> s(9600);
    int32_t inc = tone_increment(1000, 96000);  // 96 samples a cycle
    tone_fill(s.data(), 9600, inc, 100);
    // The last sample sits at phase 0, the first half of a cycle is positive.
    EXPECT_EQ(s[9599], 32767);
    int highs = 0;
    for (int16_t v : s) {
        ASSERT_TRUE(v == 32767 || v == -32767) << v;
        highs += v > 0;
    }
    EXPECT_EQ(highs, 4800);
    // Just before phase 0 lies the negative half of the cycle: the 48
    // samples before the last, then the positive half again.
    EXPECT_EQ(s[9599 - 1], -32767);
    EXPECT_EQ(s[9599 - 48], -32767);
    EXPECT_EQ(s[9599 - 49], 32767);
    // Count the rising edges: one per cycle, 100 cycles in 100 ms at 1 kHz.
    int edges = 0;
    for (size_t i = 1; i < s.size(); ++i) edges += s[i - 1] < 0 && s[i] > 0;
    EXPECT_NEAR(edges, 100, 1);

    tone_fill(s.data(), 9600, inc, 50);
    EXPECT_EQ(s[9599], 16383);
    EXPECT_EQ(s[9599 - 1], -16383);
    tone_fill(s.data(), 9600, inc, 0);
    for (int16_t v : s) ASSERT_EQ(v, 0);
}

TEST(ToneBuffer, APitchAboveTheRateKeepsEverySamplePositive) {
    std::vector<int16_t> s(4410);
    tone_fill(s.data(), 4410, tone_increment(45123, 44100), 100);
    for (int16_t v : s) ASSERT_EQ(v, 32767);
}

TEST(ToneBuffer, MutedOrOutOfScaleReadingsAreSilent) {
    EXPECT_EQ(tone_index(512, 0), 512);
    EXPECT_EQ(tone_index(512, 1), 0);
    EXPECT_EQ(tone_index(1023, 0), 1023);
    EXPECT_EQ(tone_index(1024, 0), 0);
    EXPECT_EQ(tone_index(-1, 0), 0);
    EXPECT_EQ(tone_index(2147483647, 0), 0);
}

TEST(SnapToFifty, RoundsHalfUpWithATruncatingDivision) {
    EXPECT_EQ(snap_to_50(5560), 5550);
    EXPECT_EQ(snap_to_50(5575), 5600);
    EXPECT_EQ(snap_to_50(24), 0);
    EXPECT_EQ(snap_to_50(25), 50);
}

}  // namespace
