// The tone burst over the fake: which rate it opens, what it computes into
// its one buffer, and how the shapes sound at the points that matter. Its
// pitch and its end at phase 0 are measured on the real backend.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "audio/wave.h"
#include "tests/fake/fake_sound.h"

namespace {

struct ToneTest : ::testing::Test {
    WavePool pool{};
    void SetUp() override {
        fake::reset();
        fake::sound_auto_done = true;
        wave_current.store(nullptr);
    }
    std::vector<int16_t> samples(size_t write) {
        const std::string& bytes = fake::sound_written.at(write);
        std::vector<int16_t> s(bytes.size() / 2);
        memcpy(s.data(), bytes.data(), s.size() * 2);
        return s;
    }
    void refuse_rates_above(DWORD rate) {
        fake::sound_open_result = [rate](UINT, const WAVEFORMATEX& f, DWORD) {
            return f.nSamplesPerSec > rate ? MMRESULT(WAVERR_BADFORMAT) : MMRESULT(MMSYSERR_NOERROR);
        };
    }
};

TEST_F(ToneTest, TheBufferHoldsTheWholeBurstAtTheHighestRateAccepted) {
    EXPECT_EQ(tone_burst(&pool, 0, 440, 0, 50, TONE_SQUARE), 1);
    EXPECT_EQ(tone_burst(&pool, 0, 440, -5, 50, TONE_SQUARE), 1);
    EXPECT_EQ(fake::count("waveOutOpen"), 0);
    // Highest rate accepted, duration, bytes: 441 bytes hold 220 whole
    // samples, and ten seconds is the most.
    const int32_t cases[][3] = {{96000, 10, 1920}, {11025, 20, 440}, {44100, 20000, 882000}};
    for (size_t i = 0; i < 3; ++i) {
        refuse_rates_above(cases[i][0]);
        EXPECT_EQ(tone_burst(&pool, 0, 440, cases[i][1], 50, TONE_SQUARE), 0) << i;
        EXPECT_EQ(fake::sound_written.at(i).size(), size_t(cases[i][2])) << i;
    }
    EXPECT_EQ(wave_current.load(), nullptr);
    EXPECT_EQ(fake::live_blocks(), 0);
}

TEST_F(ToneTest, RefusalsAreReportedAndThePoolIsClosed) {
    fake::sound_open_result = [](UINT, const WAVEFORMATEX& f, DWORD) {
        return f.nSamplesPerSec == 11025 ? MMRESULT(MMSYSERR_ALLOCATED) : MMRESULT(WAVERR_BADFORMAT);
    };
    EXPECT_EQ(tone_burst(&pool, 0, 440, 100, 50, TONE_SINE), MMSYSERR_ALLOCATED);  // the last rate's code
    EXPECT_EQ(fake::count("waveOutOpen"), 5);

    fake::sound_open_result = nullptr;
    fake::sound_write_result = [](const WAVEHDR&) { return MMRESULT(MMSYSERR_NOMEM); };
    EXPECT_EQ(tone_burst(&pool, 0, 440, 100, 50, TONE_SINE), MMSYSERR_NOMEM);
    EXPECT_EQ(fake::count("waveOutClose"), 1);
    EXPECT_EQ(fake::live_blocks(), 0);
}

// Each burst out of range sounds exactly as the in-range one after it.
TEST_F(ToneTest, OutOfRangeArgumentsAreClamped) {
    const int32_t cases[][4] = {// frequency and volume given, then clamped
                                {1000, 150, 1000, 100}, {1000, -20, 1000, 0}, {-1000, 50, 0, 50}, {20000, 50, 10000, 50}};
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(tone_burst(&pool, 0, cases[i][0], 10, cases[i][1], TONE_SQUARE), 0);
        ASSERT_EQ(tone_burst(&pool, 0, cases[i][2], 10, cases[i][3], TONE_SQUARE), 0);
        EXPECT_EQ(samples(2 * i), samples(2 * i + 1)) << cases[i][0] << " Hz at " << cases[i][1];
    }
}

TEST_F(ToneTest, TheShapesAtTheirLandmarks) {
    sine_build();
    const int32_t cases[][4] = {// phase, volume, shape, sample; shape 7 is unknown, so square
                                {179999, 50, TONE_SQUARE, 16383},  {180000, 50, TONE_SQUARE, -16383},
                                {0, 100, 7, 32767},                {45000, 100, TONE_TRIANGLE, 16383},
                                {90000, 100, TONE_TRIANGLE, 32767}, {180000, 100, TONE_TRIANGLE, 0},
                                {270000, 40, TONE_TRIANGLE, -13106}, {270000, 100, TONE_SINE, -32767},
                                {359990, 100, TONE_SINE, 0}};  // rounds to entry 3600, read as entry 0
    for (auto& c : cases) EXPECT_EQ(tone_sample(c[0], c[1], c[2]), c[3]) << "phase " << c[0] << ", shape " << c[2];
    for (int i = 0; i < 3600; ++i)
        ASSERT_LE(std::abs(sine_table[i] - 32767 * std::sin(i / 10.0 * M_PI / 180)), 1.0) << i;
}

}  // namespace
