// The WAV player over the fake's disk and wave output: every result code
// from files the tests write, chunk skipping, rate snapping, and the samples
// that reach the device.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "audio/wav.h"
#include "runtime/file.h"
#include "runtime/txt.h"
#include "tests/fake/fake_sound.h"

namespace {

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}
std::string chunk(const std::string& id, const std::string& body, int32_t size = -1) {
    std::string s = id + le(static_cast<uint32_t>(size < 0 ? body.size() : size), 4) + body;
    if (body.size() % 2) s += '\0';
    return s;
}
std::string format_body(int tag, int channels, uint32_t rate, int bits, const std::string& extra = "") {
    return le(tag, 2) + le(channels, 2) + le(rate, 4) + le(rate * channels * bits / 8, 4) +
           le(channels * bits / 8, 2) + le(bits, 2) + extra;
}
std::string wav(const std::string& format, const std::string& rest) {
    std::string body = "WAVE" + chunk("fmt ", format) + rest;
    return "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
}
std::string pcm16(std::initializer_list<int> samples) {
    std::string s;
    for (int v : samples) s += le(static_cast<uint16_t>(v), 2);
    return s;
}

struct WavTest : ::testing::Test {
    WavePool pool{};
    char name[300];
    HANDLE handle = nullptr;
    PcmFormat format{};
    int64_t data_size = -1;
    const char* message = nullptr;

    void SetUp() override {
        fake::reset();
        fake::sound_auto_done = true;
        wave_current.store(nullptr);
        wav_stop.store(0);
    }
    int32_t header(const std::string& file, int32_t device = 0) {
        fake::disk["t.wav"] = file;
        strcpy(name, "t.wav");
        int32_t r = wav_open_header(device, name, &handle, &format, &data_size, &message);
        if (r != WAV_CANNOT_OPEN) file_close(handle);
        return r;
    }
    int32_t play(const std::string& file, int32_t volume) {
        fake::disk["t.wav"] = file;
        strcpy(name, "t.wav");
        return wav_play(&pool, 0, name, volume, &message);
    }
    std::vector<int16_t> played() {
        std::vector<int16_t> s;
        for (const std::string& w : fake::sound_written) {
            size_t at = s.size();
            s.resize(at + w.size() / 2);
            memcpy(s.data() + at, w.data(), w.size() / 2 * 2);
        }
        return s;
    }
};

const std::string kMono16 = format_body(1, 1, 8000, 16);

TEST_F(WavTest, EveryRefusalHasItsCodeAndAMessageOfItsLength) {
    const int lengths[] = {0, 19, 15, 14, 22, 50, 43, 19, 33, 24, 28};
    for (int code = 1; code <= 10; ++code) EXPECT_EQ(txt_len(wav_message(code)), lengths[code]);
    EXPECT_EQ(wav_message(0), nullptr);

    strcpy(name, "missing.wav");
    EXPECT_EQ(wav_open_header(0, name, &handle, &format, &data_size, &message), WAV_CANNOT_OPEN);
    EXPECT_STREQ(message, wav_message(1));
    EXPECT_EQ(wav_probe(0, name, nullptr), WAV_CANNOT_OPEN);
    EXPECT_EQ(wav_play(&pool, 0, name, 100, nullptr), WAV_CANNOT_OPEN);
    EXPECT_EQ(fake::count("CloseHandle"), 0);  // nothing was opened, nothing is closed

    std::string good = wav(kMono16, chunk("data", pcm16({1, 2})));
    EXPECT_EQ(header("RIFF\x04"), WAV_NOT_RIFF);
    EXPECT_EQ(header("RIFX" + good.substr(4)), WAV_NOT_RIFF);
    EXPECT_EQ(header(good.substr(0, 10)), WAV_NOT_WAVE);
    EXPECT_EQ(header("RIFF" + le(0, 4) + "AVI " + good.substr(12)), WAV_NOT_WAVE);
    EXPECT_EQ(header("RIFF" + le(0, 4) + "WAVE" + chunk("LIST", "abcd") + good.substr(12)), WAV_NO_FORMAT_FIRST);
    EXPECT_EQ(header(good.substr(0, 30)), WAV_NOT_PCM);  // ends inside the format body
    EXPECT_EQ(header(wav(format_body(3, 1, 8000, 16), "")), WAV_NOT_PCM);
    EXPECT_EQ(header(wav(format_body(1, 3, 8000, 16), "")), WAV_NOT_PCM);
    EXPECT_EQ(header(wav(format_body(1, 1, 8000, 24), "")), WAV_NOT_PCM);
    EXPECT_EQ(header(wav(format_body(1, 1, 30000, 16), "")), WAV_ODD_RATE);
    EXPECT_EQ(header(wav(kMono16, chunk("LIST", "abcd"))), WAV_TRUNCATED);  // no data chunk
    EXPECT_EQ(header(wav(kMono16, chunk("LIST", "abcd", 40))), WAV_TRUNCATED);
    EXPECT_EQ(header(wav(format_body(1, 1, 8000, 16, "xy"), "")), WAV_TRUNCATED);
    EXPECT_EQ(header(good, 1), WAV_NO_DEVICE);
    EXPECT_STREQ(message, wav_message(8));
    EXPECT_EQ(header(good, WAVE_MAPPER), WAV_PLAYABLE);

    fake::sound_open_result = [](UINT, const WAVEFORMATEX& f, DWORD flags) {
        if (f.nChannels == 2) return MMRESULT(WAVERR_BADFORMAT);
        return flags & WAVE_FORMAT_QUERY ? MMRESULT(MMSYSERR_NOERROR) : MMRESULT(MMSYSERR_ALLOCATED);
    };
    EXPECT_EQ(header(wav(format_body(1, 2, 8000, 8), chunk("data", ""))), WAV_DEVICE_REFUSES);
    EXPECT_EQ(WORD(fake::sound_formats.back().wBitsPerSample), 16);  // asked at the width it will play
    EXPECT_EQ(play(good, 100), WAV_OPEN_REFUSED);
    EXPECT_STREQ(message, wav_message(10));
    EXPECT_EQ(fake::live_blocks(), 0);
    fake::sound_devices.clear();
    EXPECT_EQ(header(good, -1), WAV_DEVICE_REFUSES);
    EXPECT_EQ(header(good, 0), WAV_NO_DEVICE);
    EXPECT_EQ(fake::count("CreateFileA"), fake::count("CloseHandle") + 3);  // all but the missing file closed
}

TEST_F(WavTest, TheNameIsCleanedAndChunksSkippedWithTheirPadBytes) {
    fake::disk["C:\\my music\\a.wav"] = wav(kMono16, chunk("data", ""));
    strcpy(name, "  \" C:\\my music\\a.wav\"  ");
    EXPECT_EQ(wav_probe(0, name, &message), WAV_PLAYABLE);
    EXPECT_STREQ(name, "C:\\my music\\a.wav");

    const std::string samples = pcm16({0x1234, -2});
    const std::string files[] = {
        wav(format_body(1, 1, 8000, 16, "xy"), chunk("data", samples)),   // format chunk of 18
        wav(format_body(1, 1, 8000, 16, "xyz"), chunk("data", samples)),  // 19 and its pad byte
        wav(kMono16, chunk("LIST", "abcde") + chunk("data", samples)),    // odd chunk and pad
        wav(kMono16, chunk("fact", "", -8) + chunk("data", samples)),     // negative: skips nothing
    };
    for (const std::string& file : files) {
        fake::disk["t.wav"] = file + "tail";
        strcpy(name, "t.wav");
        ASSERT_EQ(wav_open_header(0, name, &handle, &format, &data_size, &message), WAV_PLAYABLE);
        char first[4];
        EXPECT_EQ(file_read(handle, first, 4), 4);
        EXPECT_EQ(std::string(first, 4), samples);
        EXPECT_EQ(data_size, 4);
        file_close(handle);
    }
    // A data size with the top bit set is a large unsigned size.
    EXPECT_EQ(header(wav(kMono16, "data" + le(0xFFFFFFFF, 4))), WAV_PLAYABLE);
    EXPECT_EQ(data_size, 0xFFFFFFFFLL);
}

TEST_F(WavTest, RatesNearAStandardRateSnapToIt) {
    const std::pair<uint32_t, uint32_t> cases[] = {
        {44100, 44100}, {48000, 48000}, {46000, 48000}, {43000, 48000}, {39690, 48000},
        {11000, 11025}, {7200, 8000},   {24255, 22050}, {52800, 48000}, {105600, 96000}};
    for (auto [in, out] : cases) {
        EXPECT_EQ(header(wav(format_body(1, 1, in, 16), chunk("data", ""))), WAV_PLAYABLE) << in;
        EXPECT_EQ(format.nSamplesPerSec, out) << in;
    }
    for (uint32_t odd : {7199u, 30000u, 52801u, 105601u, 0x80000000u})
        EXPECT_EQ(header(wav(format_body(1, 1, odd, 16), chunk("data", ""))), WAV_ODD_RATE) << odd;
}

TEST_F(WavTest, SamplesAreWidenedScaledAndClipped) {
    ASSERT_EQ(play(wav(format_body(1, 1, 11025, 8), chunk("data", std::string("\x00\x80\xff\x01", 4))), 100), 0);
    EXPECT_EQ(pool.size, 22050);  // one second a buffer
    EXPECT_EQ(wav_peak, 32768);
    // -32768, 0, 32512 and -32512: at volume 100 a negative sample comes one unit nearer zero.
    EXPECT_EQ(played(), (std::vector<int16_t>{-32767, 0, 32512, -32511}));

    fake::sound_written.clear();
    ASSERT_EQ(play(wav(kMono16, chunk("data", pcm16({20000, -20000, 100, -2, -1}))), 200), 0);
    EXPECT_EQ(played(), (std::vector<int16_t>{32767, -32768, 200, -3, -1}));
    EXPECT_EQ(wav_peak, 20000);  // taken before the volume
    EXPECT_EQ(wav_out_sample(32767, 1000000), 32767);  // no overflow at extreme volumes
    EXPECT_EQ(wav_out_sample(-32768, -1000000), 32767);
}

TEST_F(WavTest, LongFilesStreamInOneSecondBuffers) {
    std::string data;
    for (int i = 0; i < 20000; ++i) data += le(static_cast<uint16_t>(i), 2);  // 2.5 s at 8000 per second
    ASSERT_EQ(play(wav(kMono16, chunk("data", data) + chunk("LIST", "tail")), 100), 0);
    ASSERT_EQ(fake::sound_written.size(), 3u);
    EXPECT_EQ(fake::sound_written[0].size(), 16000u);
    EXPECT_EQ(fake::sound_written[2].size(), 8000u);  // the LIST chunk is not played
    EXPECT_EQ(played()[19999], 19999);
    EXPECT_EQ(fake::count("waveOutReset"), 0);  // drained, not cut short
    EXPECT_EQ(fake::live_blocks(), 0);
}

TEST_F(WavTest, DataSizesThatDoNotMatchTheFile) {
    // Larger than the file: the last buffer is short, and still submitted
    // when the reader has nothing left for it at all.
    ASSERT_EQ(play(wav(kMono16, chunk("data", pcm16({5, 6, 7}), 1000)), 100), 0);
    EXPECT_EQ(played(), (std::vector<int16_t>{5, 6, 7}));
    ASSERT_EQ(play(wav(kMono16, chunk("data", "", 32000)), 100), 0);
    EXPECT_EQ(fake::sound_written.back().size(), 0u);
    // An odd size cuts the last 16-bit sample short: it is dropped.
    ASSERT_EQ(play(wav(kMono16, chunk("data", pcm16({9, 0x7F7F}).substr(0, 3))), 100), 0);
    EXPECT_EQ(fake::sound_written.back(), pcm16({9}));
    // Size 0: nothing at all is submitted.
    size_t writes = fake::sound_written.size();
    ASSERT_EQ(play(wav(kMono16, chunk("data", "")), 100), 0);
    EXPECT_EQ(fake::sound_written.size(), writes);
    EXPECT_EQ(wav_peak, 0);
}

TEST_F(WavTest, AStopRequestEndsPlaybackAndIsCleared) {
    wav_stop.store(1);
    ASSERT_EQ(play(wav(kMono16, chunk("data", pcm16({1, 2, 3}))), 100), 0);
    EXPECT_EQ(fake::sound_written.size(), 0u);  // the filled buffer is not submitted
    EXPECT_EQ(fake::count("waveOutReset"), 1);
    EXPECT_EQ(wav_stop.load(), 0);

    // While the player waits for a free buffer.
    fake::sound_auto_done = false;
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        wav_stop.store(1);
    });
    ASSERT_EQ(play(wav(kMono16, chunk("data", std::string(3 * 16000, '\0'))), 100), 0);
    stopper.join();
    EXPECT_EQ(fake::sound_written.size(), 2u);
    EXPECT_EQ(fake::sound_queued_at_close, 0);
    EXPECT_EQ(wav_stop.load(), 0);

    // A refusal leaves a pending request for the next play.
    wav_stop.store(1);
    strcpy(name, "missing.wav");
    EXPECT_EQ(wav_play(&pool, 0, name, 100, nullptr), WAV_CANNOT_OPEN);
    EXPECT_EQ(wav_stop.load(), 1);
}

}  // namespace
