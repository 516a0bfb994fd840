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
    open();
    WAVEHDR* first = wave_take(&pool);
    EXPECT_EQ(first, &pool.headers[1]);
    EXPECT_EQ(wave_take(&pool), first);  // taking alone marks nothing
    wave_submit(&pool, first, 100);
    EXPECT_EQ(fake::sound_written.back().size(), 100u);
    EXPECT_EQ(wave_take(&pool), &pool.headers[0]);
    wave_submit(&pool, &pool.headers[0], 9600);
    EXPECT_EQ(wave_take(&pool), nullptr);
    EXPECT_EQ(pool.queued.load(), 2);

    fake::sound_done(1);
    EXPECT_EQ(wave_take(&pool), first);
    EXPECT_EQ(first->dwBufferLength, 9600u);
    EXPECT_EQ(pool.queued.load(), 1);
    EXPECT_EQ(fake::count("waveOutUnprepareHeader"), 0);  // prepared afresh, never unprepared, between uses
    wave_close(&pool, 1);
}

TEST_F(PoolTest, OneBlockHoldsBuffersThenHeadersWithAlignedMarks) {
    open(3, 22);  // 66 bytes of sound: the headers would otherwise start unaligned
    for (int i = 0; i < 3; ++i) {
        WAVEHDR* h = wave_take(&pool);
        EXPECT_EQ(reinterpret_cast<uint8_t*>(h->lpData), pool.block + (2 - i) * 22);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(&h->dwUser) % sizeof(DWORD_PTR), 0u);
        wave_submit(&pool, h, 22);
    }
    EXPECT_GE(reinterpret_cast<uint8_t*>(pool.headers), pool.block + 66);
    EXPECT_LE(reinterpret_cast<uint8_t*>(pool.headers + 3), pool.block + wave_block_size(3, 22));
    EXPECT_EQ(fake::live_blocks(), 1);
    wave_close(&pool, 1);
    EXPECT_EQ(fake::live_blocks(), 0);
}

TEST_F(PoolTest, TheFormatRecordAndOpenFlags) {
    ASSERT_EQ(wave_open(&pool, 0, 2, 44100, 16, 2, 100), MMSYSERR_NOERROR);
    // A copy: the record is packed, and its fields cannot be bound to references.
    const WAVEFORMATEX f = fake::sound_formats.back();
    EXPECT_EQ(WORD(f.wFormatTag), WAVE_FORMAT_PCM);
    EXPECT_EQ(WORD(f.nBlockAlign), 4);
    EXPECT_EQ(DWORD(f.nAvgBytesPerSec), 176400u);
    EXPECT_EQ(fake::sound_open_flags.back(), 0x30008u);
    wave_close(&pool, 1);

    EXPECT_EQ(wave_format_query(0, 1, 8000, 8), MMSYSERR_NOERROR);
    EXPECT_EQ(fake::sound_open_flags.back(), DWORD(WAVE_FORMAT_QUERY));
    fake::sound_open_result = [](UINT, const WAVEFORMATEX&, DWORD) { return MMRESULT(WAVERR_BADFORMAT); };
    EXPECT_EQ(wave_format_query(0, 1, 8000, 8), MMRESULT(WAVERR_BADFORMAT));
}

TEST_F(PoolTest, ResetCloseReturnsAtOnceWhileADrainingCloseWaitsForEveryBuffer) {
    open();
    submit_all();
    EXPECT_EQ(wave_close(&pool, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(fake::count("Sleep"), 0);
    EXPECT_EQ(fake::sound_queued_at_close, 0);

    open();
    submit_all();
    // The device's thread hands the buffers back while the owner waits.
    std::thread device([] {
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

    WAVEHDR late{};
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
    for (int submitted = 0; submitted < 2000;) {
        if (WAVEHDR* h = wave_take(&pool)) {
            wave_submit(&pool, h, 64);
            ++submitted;
        }
    }
    while (pool.queued.load() > 0) std::this_thread::yield();
    running.store(false);
    device.join();
    EXPECT_EQ(wave_marked(&pool.headers[0]) + wave_marked(&pool.headers[1]), 0);
    EXPECT_EQ(fake::sound_written.size(), 2000u);
    EXPECT_EQ(wave_close(&pool, 0), MMSYSERR_NOERROR);
}

TEST_F(PoolTest, DeviceQueries) {
    fake::sound_devices = {{"Speakers", WAVE_FORMAT_48M16}, {"A name far longer than the thirty-one characters", 0}};
    EXPECT_EQ(wave_device_count(), 2);
    EXPECT_STREQ(wave_device_name(0), "Speakers");
    EXPECT_STREQ(wave_device_name(1), "A name far longer than the thir");
    EXPECT_STREQ(wave_device_name(2), "");
    EXPECT_EQ(wave_device_formats(0), DWORD(WAVE_FORMAT_48M16));
    EXPECT_EQ(wave_device_formats(7), 0u);
}

}  // namespace
