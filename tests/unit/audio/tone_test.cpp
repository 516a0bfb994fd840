// The tone burst over the fake: which rate it opens, what it computes into
// its one buffer, and how the shapes sound at the points that matter.
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
    std::vector<int16_t> samples(size_t write = 0) {
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

    EXPECT_EQ(tone_burst(&pool, 0, 440, 10, 50, TONE_SQUARE), 0);
    EXPECT_EQ(fake::sound_written.at(0).size(), 1920u);  // at 96000
    refuse_rates_above(11025);
    EXPECT_EQ(tone_burst(&pool, 0, 440, 1, 50, TONE_SQUARE), 0);
    EXPECT_EQ(fake::sound_written.at(1).size(), 22u);
    refuse_rates_above(44100);
    EXPECT_EQ(tone_burst(&pool, 0, 440, 20000, 50, TONE_SQUARE), 0);  // ten seconds at most
    EXPECT_EQ(fake::sound_written.at(2).size(), 882000u);
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

TEST_F(ToneTest, TheBurstRisesStepByStepToPhaseZeroAtItsEnd) {
    refuse_rates_above(48000);
    EXPECT_EQ(tone_step(1000, 48000), 7500);
    ASSERT_EQ(tone_burst(&pool, 0, 1000, 50, 100, TONE_SINE), 0);
    std::vector<int16_t> s = samples();
    ASSERT_EQ(s.size(), 2400u);
    EXPECT_EQ(s.back(), 0);
    EXPECT_EQ(s[s.size() - 2], sine_table[3525]);  // phase 352500
    for (int32_t i = 0; i < 48; ++i) {
        int32_t phase = (360000 - 7500 * i % 360000) % 360000;
        EXPECT_EQ(s[s.size() - 1 - i], tone_sample(phase, 100, TONE_SINE)) << i;
    }
}

TEST_F(ToneTest, OutOfRangeArgumentsAreClamped) {
    ASSERT_EQ(tone_burst(&pool, 0, 1000, 10, 150, TONE_SQUARE), 0);
    for (int16_t v : samples(0)) EXPECT_EQ(std::abs(v), 32767);
    ASSERT_EQ(tone_burst(&pool, 0, -3, 10, 50, TONE_SQUARE), 0);
    for (int16_t v : samples(1)) EXPECT_EQ(v, 16383);  // frequency 0: the phase stays at 0
    ASSERT_EQ(tone_burst(&pool, 0, 0, 10, 100, TONE_TRIANGLE), 0);
    ASSERT_EQ(tone_burst(&pool, 0, 0, 10, 100, TONE_SINE), 0);
    EXPECT_EQ(samples(2), std::vector<int16_t>(960, 0));
    EXPECT_EQ(samples(3), std::vector<int16_t>(960, 0));
}

TEST_F(ToneTest, TheShapesAtTheirLandmarks) {
    sine_build();
    EXPECT_EQ(tone_sample(179999, 50, TONE_SQUARE), 16383);
    EXPECT_EQ(tone_sample(180000, 50, TONE_SQUARE), -16383);
    EXPECT_EQ(tone_sample(0, 100, 7), 32767);  // an unknown shape is square
    EXPECT_EQ(tone_sample(45000, 100, TONE_TRIANGLE), 16383);
    EXPECT_EQ(tone_sample(90000, 100, TONE_TRIANGLE), 32767);
    EXPECT_EQ(tone_sample(180000, 100, TONE_TRIANGLE), 0);
    EXPECT_EQ(tone_sample(270000, 40, TONE_TRIANGLE), -13106);
    EXPECT_EQ(tone_sample(270000, 100, TONE_SINE), -32767);
    EXPECT_EQ(tone_sample(359990, 100, TONE_SINE), 0);  // rounds to entry 3600, read as entry 0

    for (int i = 0; i < 3600; ++i)
        ASSERT_LE(std::abs(sine_table[i] - 32767 * std::sin(i / 10.0 * M_PI / 180)), 1.0) << i;
}

}  // namespace
