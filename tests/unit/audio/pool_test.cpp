// The wave-out pool over the recording fake: which buffer the owner gets,
// how buffers come back, and how a close ends their cycles.
#include <gtest/gtest.h>

#include <chrono>
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
    void submit_all() {
        while (WAVEHDR* h = wave_take(&pool)) wave_submit(&pool, h, pool.size);
    }
};

TEST_F(PoolTest, TheHighestFreeBufferIsTakenAndComesBackFullSize) {
    open(2, 21);  // 42 bytes of sound: the headers that follow would otherwise start unaligned
    WAVEHDR* first = wave_take(&pool);
    EXPECT_EQ(first, &pool.headers[1]);
    EXPECT_EQ(wave_take(&pool), first);  // taking alone marks nothing
    wave_submit(&pool, first, 10);
    EXPECT_EQ(wave_take(&pool), &pool.headers[0]);
    wave_submit(&pool, &pool.headers[0], 21);
    EXPECT_EQ(wave_take(&pool), nullptr);
    EXPECT_EQ(pool.queued.load(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(reinterpret_cast<uint8_t*>(pool.headers[i].lpData), pool.block + i * 21);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(&pool.headers[i].dwUser) % sizeof(DWORD_PTR), 0u);
    }
    EXPECT_GE(reinterpret_cast<uint8_t*>(pool.headers), pool.block + 42);
    fake::sound_done(1);
    EXPECT_EQ(wave_take(&pool), first);
    EXPECT_EQ(first->dwBufferLength, 21u);
    EXPECT_EQ(pool.queued.load(), 1);
    wave_close(&pool, 1);
    EXPECT_EQ(fake::live_blocks(), 0);
}

TEST_F(PoolTest, TheFormatRecordAndOpenFlags) {
    ASSERT_EQ(wave_open(&pool, 0, 2, 44100, 16, 2, 100), MMSYSERR_NOERROR);
    const WAVEFORMATEX f = fake::sound_formats.back();  // a copy: the packed fields bind to no reference
    EXPECT_EQ(std::vector<DWORD>({f.wFormatTag, f.nBlockAlign, f.nAvgBytesPerSec}),
              std::vector<DWORD>({WAVE_FORMAT_PCM, 4, 176400}));
    EXPECT_EQ(fake::sound_open_flags.back(), DWORD(CALLBACK_FUNCTION | WAVE_FORMAT_DIRECT));
    wave_close(&pool, 1);
    EXPECT_EQ(wave_format_query(0, 1, 8000, 8), MMSYSERR_NOERROR);
    EXPECT_EQ(fake::sound_open_flags.back(), DWORD(WAVE_FORMAT_QUERY));  // asks, opens nothing
}

TEST_F(PoolTest, ResetCloseReturnsAtOnceWhileADrainingCloseWaitsForEveryBuffer) {
    open();
    submit_all();
    EXPECT_EQ(wave_close(&pool, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(fake::count("Sleep"), 0);
    EXPECT_EQ(fake::sound_queued_at_close, 0);

    open();
    submit_all();
    std::thread device([] {  // hands the buffers back while the owner waits
        for (int i = 0; i < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            fake::sound_done(1);
        }
    });
    EXPECT_EQ(wave_close(&pool, 0), MMSYSERR_NOERROR);
    device.join();
    EXPECT_EQ(fake::sound_queued_at_close, 0);
    EXPECT_EQ(fake::count("waveOutReset"), 1);
    EXPECT_EQ(fake::live_blocks(), 0);
}

TEST_F(PoolTest, OnlyWomDoneForTheCurrentPoolCounts) {
    open();
    WAVEHDR* h = wave_take(&pool);
    wave_submit(&pool, h, 9600);
    fake::sound_deliver(WOM_OPEN, h);
    fake::sound_deliver(WOM_CLOSE, h);
    EXPECT_EQ(wave_marked(h), 1);
    EXPECT_EQ(pool.queued.load(), 1);
    wave_close(&pool, 1);

    WAVEHDR late{};  // after the close: no pool is current
    late.dwUser = 1;
    wave_done(nullptr, WOM_DONE, 0, reinterpret_cast<DWORD_PTR>(&late), 0);
    EXPECT_EQ(late.dwUser, 1u);
    EXPECT_EQ(pool.queued.load(), 0);
}

TEST_F(PoolTest, RefusalsLeaveNothingBehind) {
    open();
    WavePool other{};
    fake::sound_open_result = [](UINT, const WAVEFORMATEX&, DWORD) { return MMRESULT(WAVERR_BADFORMAT); };
    EXPECT_EQ(wave_open(&other, 0, 1, 96000, 16, 2, 19200), MMRESULT(WAVERR_BADFORMAT));
    EXPECT_EQ(fake::live_blocks(), 1);
    EXPECT_EQ(wave_current.load(), &pool);

    // A refused write never comes back through the callback.
    fake::sound_write_result = [](const WAVEHDR&) { return MMRESULT(MMSYSERR_NOMEM); };
    WAVEHDR* h = wave_take(&pool);
    EXPECT_EQ(wave_submit(&pool, h, 9600), MMRESULT(MMSYSERR_NOMEM));
    EXPECT_EQ(wave_marked(h), 0);
    ASSERT_EQ(pool.queued.load(), 0);  // else the draining close below would wait for ever
    EXPECT_EQ(wave_take(&pool), h);
    EXPECT_EQ(wave_close(&pool, 0), MMSYSERR_NOERROR);
}

TEST_F(PoolTest, TheOwnerAndTheDeviceThreadShareMarksAndCount) {
    open(2, 64);
    std::atomic<bool> running{true};
    std::thread device([&] {
        while (running.load()) fake::sound_done(1);
    });
    for (int submitted = 0; submitted < 2000;)
        if (WAVEHDR* h = wave_take(&pool)) submitted += wave_submit(&pool, h, 64) == MMSYSERR_NOERROR;
    while (pool.queued.load() > 0) std::this_thread::yield();
    running.store(false);
    device.join();
    EXPECT_EQ(wave_marked(&pool.headers[0]) + wave_marked(&pool.headers[1]), 0);
    EXPECT_EQ(fake::sound_written.size(), 2000u);
    EXPECT_EQ(wave_close(&pool, 0), MMSYSERR_NOERROR);
}

// Like the system, the fake fills all 32 bytes of a long name without a
// terminator.
TEST_F(PoolTest, ALongDeviceNameIsCutTo31Characters) {
    fake::sound_devices = {{"A name far longer than the thirty-one characters", 0}};
    EXPECT_STREQ(wave_device_name(0), "A name far longer than the thir");
}

}  // namespace
