// The sound subsystem against the real WINMM: the device queries, the
// header check on a real file, and the refusals that a machine without a
// sound device gives (wine usually has none here).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "audio/wav.h"
#include "runtime/txt.h"

TEST(WindowsSound, DeviceQueriesAndTheHeaderCheckOnARealFile) {
    const int32_t n = wave_device_count();
    ASSERT_GE(n, 0);
    for (int32_t i = 0; i < n; ++i) EXPECT_GT(txt_len(wave_device_name(i)), 0) << i;
    EXPECT_EQ(txt_len(wave_device_name(n)), 0);
    EXPECT_EQ(wave_device_formats(n), 0u);
    EXPECT_EQ(wave_format_query(n, 1, 48000, 16), MMRESULT(MMSYSERR_BADDEVICEID));
    WavePool pool{};
    EXPECT_EQ(wave_open(&pool, n, 1, 48000, 16, 2, 9600), MMRESULT(MMSYSERR_BADDEVICEID));
    EXPECT_EQ(pool.block, nullptr);

    char name[MAX_PATH] = "no such file.wav";
    EXPECT_EQ(wav_probe(0, name, nullptr), WAV_CANNOT_OPEN);
    // 48000 per second, mono, 16 bits, no samples.
    static const char header[] = "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\xBB\0\0\0\x77\x01\0\x02\0\x10\0data\0\0\0";
    FILE* f = fopen("rxmon-sound-test.wav", "wb");
    fwrite(header, 1, sizeof header, f);  // the terminator is the last byte of the data size
    fclose(f);
    strcpy(name, " \"rxmon-sound-test.wav\"");
    EXPECT_EQ(wav_probe(n, name, nullptr), WAV_NO_DEVICE);
    if (n == 0) EXPECT_EQ(wav_probe(-1, name, nullptr), WAV_DEVICE_REFUSES);
    else EXPECT_EQ(wav_play(&pool, -1, name, 100, nullptr), 0);
    EXPECT_EQ(tone_burst(&pool, 0, 440, 20, 50, TONE_SINE) == 0, n > 0);
    remove("rxmon-sound-test.wav");
}
