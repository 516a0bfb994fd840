// The wave-out pool over the recording fake (which buffer the owner gets, how
// buffers come back, how a close ends their cycles), and the tone burst on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "audio/wave.h"
#include "tests/fake/fake_sound.h"

namespace {

struct PoolTest : ::testing::Test {
    WavePool pool{};
    void SetUp() override {
        fake::reset();
        wave_current.store(nullptr);
    }
    void open(int32_t count = 2, int32_t size = 9600) {
        ASSERT_EQ(wave_open(&pool, 0, 1, 48000, 16, count, size), MMSYSERR_NOERROR);
    }
};
using ToneBurst = PoolTest;

TEST_F(PoolTest, TheHighestFreeBufferIsTakenMarkedWhenSubmittedAndComesBackFullSize) {
    open(2, 21);  // 42 bytes of sound: the headers that follow would otherwise start unaligned
    WAVEHDR* first = wave_take(&pool);
    EXPECT_EQ(first, &pool.headers[1]);
    EXPECT_EQ(wave_take(&pool), first);  // taking alone marks nothing
    wave_submit(&pool, first, 10);
    EXPECT_EQ(wave_marked(first), 1);
    EXPECT_EQ(wave_take(&pool), &pool.headers[0]);
    wave_submit(&pool, &pool.headers[0], 21);
    EXPECT_EQ(wave_take(&pool), nullptr);
    EXPECT_EQ(pool.queued.load(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(reinterpret_cast<uint8_t*>(pool.headers[i].lpData), pool.block + i * 21);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(&pool.headers[i].dwUser) % sizeof(DWORD_PTR), 0u);
    }
    EXPECT_GE(reinterpret_cast<uint8_t*>(pool.headers), pool.block + 42);
    fake::sound_deliver(WOM_OPEN, first);  // only WOM_DONE counts
    EXPECT_EQ(pool.queued.load(), 2);
    fake::sound_done(1);
    EXPECT_EQ(wave_take(&pool), first);
    EXPECT_EQ(first->dwBufferLength, 21u);
    EXPECT_EQ(pool.queued.load(), 1);
    EXPECT_EQ(wave_close(&pool, 1), MMSYSERR_NOERROR);  // a reset close returns at once
    EXPECT_EQ(fake::count("Sleep"), 0);
    EXPECT_EQ(fake::live_blocks(), 0);
    WAVEHDR late{};  // after the close no pool is current
    late.dwUser = 1;
    wave_done(nullptr, WOM_DONE, 0, reinterpret_cast<DWORD_PTR>(&late), 0);
    EXPECT_EQ(late.dwUser, 1u);
}

TEST_F(PoolTest, ADrainingCloseWaitsForEveryBufferWhileTheDeviceThreadHandsThemBack) {
    open(2, 64);
    std::atomic<int> pause_ms{0};
    std::atomic<bool> running{true};
    std::thread device([&] {
        while (running.load()) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms)), fake::sound_done(1);
    });
    for (int submitted = 0; submitted < 2000;)  // two buffers: each mark must be cleared as it comes back
        if (WAVEHDR* h = wave_take(&pool)) submitted += wave_submit(&pool, h, 64) == MMSYSERR_NOERROR;
    pause_ms = 10;  // then a slow device, and both buffers out
    for (int out = pool.queued.load(); out < 2; out = pool.queued.load())
        if (WAVEHDR* h = wave_take(&pool)) wave_submit(&pool, h, 64);
    EXPECT_EQ(wave_close(&pool, 0), MMSYSERR_NOERROR);  // the fake refuses a close with buffers out
    running.store(false);
    device.join();
    EXPECT_EQ(fake::count("waveOutReset"), 0);
}

TEST_F(PoolTest, RefusalsLeaveNothingBehind) {
    open();
    WavePool other{};
    fake::sound_open_result = [](const WAVEFORMATEX&, DWORD) { return MMRESULT(WAVERR_BADFORMAT); };
    EXPECT_EQ(wave_open(&other, 0, 1, 96000, 16, 2, 19200), MMRESULT(WAVERR_BADFORMAT));
    EXPECT_EQ(fake::live_blocks(), 1);
    EXPECT_EQ(wave_current.load(), &pool);
    // A refused write never comes back through the callback.
    fake::sound_write_result = [](const WAVEHDR&) { return MMRESULT(MMSYSERR_NOMEM); };
    WAVEHDR* h = wave_take(&pool);
    EXPECT_EQ(wave_submit(&pool, h, 9600), MMRESULT(MMSYSERR_NOMEM));
    EXPECT_EQ(wave_marked(h), 0);
    ASSERT_EQ(pool.queued.load(), 0);  // else the draining close below would wait for ever
    EXPECT_EQ(wave_close(&pool, 0), MMSYSERR_NOERROR);
}

TEST_F(ToneBurst, TheBufferHoldsTheWholeBurstAtTheHighestRateAcceptedAndEndsAtPhaseZero) {
    fake::sound_auto_done = true;
    EXPECT_EQ(tone_burst(&pool, 0, 440, 0, 50, TONE_SQUARE), 1);
    EXPECT_EQ(fake::count("waveOutOpen"), 0);
    // Highest rate accepted, duration, bytes: 441 bytes hold 220 whole samples; 10 s at most.
    const int32_t cases[][3] = {{96000, 10, 1920}, {11025, 20, 440}, {44100, 20000, 882000}};
    for (auto [rate, ms, bytes] : cases) {
        fake::sound_open_result = [rate](const WAVEFORMATEX& f, DWORD) {
            return f.nSamplesPerSec > DWORD(rate) ? MMRESULT(WAVERR_BADFORMAT) : MMRESULT(MMSYSERR_NOERROR);
        };
        EXPECT_EQ(tone_burst(&pool, 0, 440, ms, 50, TONE_SINE), 0) << rate;
        EXPECT_EQ(fake::sound_written.back().size(), size_t(bytes)) << rate;
    }
    std::vector<int16_t> s(220);  // the 11025 one: 440 Hz at half volume, a sine that ends on 0
    memcpy(s.data(), fake::sound_written[1].data(), 440);
    EXPECT_EQ(s.back(), 0);
    EXPECT_LT(s[218], 0);
    const int16_t peak = *std::max_element(s.begin(), s.end());
    EXPECT_TRUE(peak > 16000 && peak <= 16383) << peak;
    fake::sound_open_result = [](const WAVEFORMATEX&, DWORD) { return MMRESULT(WAVERR_BADFORMAT); };
    EXPECT_EQ(tone_burst(&pool, 0, 440, 100, 50, TONE_SINE), WAVERR_BADFORMAT);  // the last rate's refusal
    fake::sound_open_result = nullptr;
    fake::sound_write_result = [](const WAVEHDR&) { return MMRESULT(MMSYSERR_NOMEM); };
    EXPECT_EQ(tone_burst(&pool, 0, 440, 100, 50, TONE_SINE), MMSYSERR_NOMEM);
    EXPECT_EQ(fake::live_blocks(), 0);
}

TEST(ToneShapes, AtTheirLandmarks) {
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
