// The WAV player over the fake's disk and wave output; the wave-out pool's
// buffer cycle and close; the tone burst on it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "audio/wav.h"
#include "audio/wave.h"
#include "runtime/file.h"
#include "tests/fake/fake_sound.h"

namespace {

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}
std::string chunk(const std::string& id, const std::string& body, int32_t size = -1) {
    return id + le(static_cast<uint32_t>(size < 0 ? body.size() : size), 4) + body + std::string(body.size() % 2, '\0');
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
const std::string kMono16 = format_body(1, 1, 8000, 16);

struct WavTest : ::testing::Test {
    WavePool pool{};
    char name[300];
    PcmFormat format{};
    int64_t data_size = -1;
    const char* message = nullptr;
    void SetUp() override {
        fake::reset();
        fake::sound_auto_done = true;
        wave_current.store(nullptr);
        wav_stop.store(0);
    }
    char* store(const std::string& file) {
        fake::disk["t.wav"] = file;
        return strcpy(name, "t.wav");
    }
    int32_t header(const std::string& file, int32_t device = 0) {
        HANDLE handle = nullptr;
        int32_t r = wav_open_header(device, store(file), &handle, &format, &data_size, &message);
        if (r != WAV_CANNOT_OPEN) file_close(handle);
        return r;
    }
    int32_t play(const std::string& file, int32_t volume = 100) {
        fake::sound_written.clear();
        return wav_play(&pool, 0, store(file), volume, &message);
    }
    std::vector<int16_t> played() {
        std::vector<int16_t> s;
        for (const std::string& w : fake::sound_written)
            for (size_t i = 0; i + 1 < w.size(); i += 2)
                s.push_back(static_cast<int16_t>(uint8_t(w[i]) | w[i + 1] << 8));
        return s;
    }
};

// The fuzz target checks that a refusal has a message; here each has its own code.
TEST_F(WavTest, EveryRefusalHasItsCode) {
    const std::string good = wav(kMono16, chunk("data", pcm16({1, 2})));
    const struct { std::string file; int32_t code, device = 0; } cases[] = {
        {"RIFX" + good.substr(4), WAV_NOT_RIFF}, {good.substr(0, 10), WAV_NOT_WAVE},
        {"RIFF" + le(0, 4) + "WAVE" + chunk("LIST", "abcd") + good.substr(12), WAV_NO_FORMAT_FIRST},
        {good.substr(0, 30), WAV_NOT_PCM}, {wav(format_body(1, 3, 8000, 16), ""), WAV_NOT_PCM},  // cut short, 3 channels
        {wav(kMono16, chunk("LIST", "abcd", 40)), WAV_TRUNCATED}, {wav(format_body(1, 1, 8000, 16, "xy"), ""), WAV_TRUNCATED},
        {good, WAV_NO_DEVICE, 1}, {good, WAV_PLAYABLE, int32_t(WAVE_MAPPER)}};
    for (const auto& c : cases) EXPECT_EQ(header(c.file, c.device), c.code) << &c - cases;
    // The device is asked at the width it will play; the query and the open may differ.
    fake::sound_open_result = [](const WAVEFORMATEX& f, DWORD flags) {
        if (f.wBitsPerSample != 16) return MMRESULT(WAVERR_BADFORMAT);
        return flags & WAVE_FORMAT_QUERY ? MMRESULT(MMSYSERR_NOERROR) : MMRESULT(MMSYSERR_ALLOCATED);
    };
    EXPECT_EQ(play(wav(format_body(1, 2, 8000, 8), chunk("data", ""))), WAV_OPEN_REFUSED);
    strcpy(name, "missing.wav");
    EXPECT_EQ(wav_play(&pool, 0, name, 100, nullptr), WAV_CANNOT_OPEN);
    EXPECT_EQ(fake::live_blocks(), 0);
    EXPECT_EQ(fake::count("CreateFileA"), fake::count("CloseHandle") + 1);  // all but the missing file closed
}

TEST_F(WavTest, TheChunkWalkSkipsChunksWithTheirPadBytes) {
    fake::disk["\x80 33"] = wav(kMono16, chunk("data", ""));  // a name that reads as a stored text
    strcpy(name, " \"\x80 33\" ");
    EXPECT_EQ(wav_probe(0, name, &message), WAV_PLAYABLE);
    EXPECT_STREQ(name, "\x80 33");
    const std::string samples = pcm16({0x1234, 0x5678});
    const std::string files[] = {
        wav(format_body(1, 1, 8000, 16, "xy"), chunk("data", samples)),   // format chunk of 18
        wav(format_body(1, 1, 8000, 16, "xyz"), chunk("data", samples)),  // 19 and its pad byte
        wav(kMono16, chunk("LIST", "abcde") + chunk("data", samples)),    // odd chunk and pad
        wav(kMono16, chunk("fact", "", -8) + chunk("data", samples)),     // negative: skips nothing
    };
    for (const std::string& file : files) {
        ASSERT_EQ(play(file + "tail"), WAV_PLAYABLE);
        EXPECT_EQ(played(), (std::vector<int16_t>{0x1234, 0x5678})) << &file - files;
    }
}

TEST_F(WavTest, RatesWithinATenthOfAStandardRateSnapToIt) {
    for (auto [in, out] : {std::pair{44100u, 44100u}, {43000u, 48000u}, {52800u, 48000u}, {105600u, 96000u},
                           {7199u, 0u}, {30000u, 0u}, {52801u, 0u}, {0x80000000u, 0u}}) {
        EXPECT_EQ(header(wav(format_body(1, 1, in, 16), chunk("data", ""))), out ? WAV_PLAYABLE : WAV_ODD_RATE) << in;
        EXPECT_EQ(out ? format.nSamplesPerSec : 0u, out) << in;
    }
}

// The fuzz target counts the samples played; here are their values.
TEST_F(WavTest, SamplesAreWidenedScaledAndClippedAndStreamInOneSecondBuffers) {
    ASSERT_EQ(play(wav(format_body(1, 1, 8000, 8), chunk("data", std::string("\x00\x80\xff\x81", 4))), 50), 0);
    EXPECT_EQ(played(), (std::vector<int16_t>{-16383, 0, 16256, 128}));
    ASSERT_EQ(play(wav(kMono16, chunk("data", pcm16({-32768, 32767, -3, 200}))), 1000), 0);
    EXPECT_EQ(played(), (std::vector<int16_t>{-32768, 32767, -29, 2000}));
    EXPECT_EQ(wav_peak, 32768);
    EXPECT_EQ(wav_out_sample(-32768, -1000000), 32767);  // no volume overflows the scaling
    ASSERT_EQ(play(wav(kMono16, chunk("data", std::string(40000, 'x')))), 0);  // 2.5 s
    EXPECT_EQ(std::make_pair(fake::sound_written.size(), fake::sound_written[0].size()), std::make_pair(size_t(3), size_t(16000)));
    EXPECT_EQ(fake::count("waveOutReset"), 0);
}

TEST_F(WavTest, DataSizesThatDoNotMatchTheFileAndAStopRequest) {
    // Larger than the file: a short last buffer, submitted even when empty; an odd size
    // cuts the last sample short: it is dropped. Size 0 submits nothing at all.
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {chunk("data", pcm16({5, 6, 7}), 1000), {pcm16({5, 6, 7})}}, {chunk("data", "", 32000), {""}},
        {chunk("data", pcm16({9, 0x7F7F}).substr(0, 3)), {pcm16({9})}}, {chunk("data", ""), {}}};
    for (const auto& [data, written] : cases) {
        EXPECT_EQ(play(wav(kMono16, data)), 0);
        EXPECT_EQ(fake::sound_written, written) << data.size();
    }
    EXPECT_EQ(wav_peak, 0);
    wav_stop.store(1);  // set before: the filled buffer is not submitted
    ASSERT_EQ(play(wav(kMono16, chunk("data", pcm16({1, 2, 3})))), 0);
    EXPECT_TRUE(fake::sound_written.empty());
    EXPECT_EQ(fake::count("waveOutReset"), 1);
    EXPECT_EQ(wav_stop.load(), 0);
    wav_stop.store(1);
    EXPECT_EQ(play("RIFX"), WAV_NOT_RIFF);
    EXPECT_EQ(wav_stop.load(), 1);  // a refusal leaves it for the next play
}

struct PoolTest : WavTest {  // buffers come back when the test hands them back
    void SetUp() override { WavTest::SetUp(), fake::sound_auto_done = false; }
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
    int16_t end[2];  // the 11025 one: 440 Hz, a sine that ends on 0 from below
    memcpy(end, fake::sound_written[1].data() + 436, 4);
    EXPECT_TRUE(end[0] < 0 && end[1] == 0) << end[0] << " " << end[1];
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
        {179999, 50, TONE_SQUARE, 16383}, {180000, 50, TONE_SQUARE, -16383}, {0, 100, 7, 32767},
        {45000, 100, TONE_TRIANGLE, 16383}, {270000, 40, TONE_TRIANGLE, -13106},
        {359990, 100, TONE_SINE, 0}};  // rounds to entry 3600, read as entry 0
    for (auto& c : cases) EXPECT_EQ(tone_sample(c[0], c[1], c[2]), c[3]) << "phase " << c[0] << ", shape " << c[2];
    for (int i = 0; i < 3600; ++i)
        ASSERT_LE(std::abs(sine_table[i] - 32767 * std::sin(i / 10.0 * M_PI / 180)), 1.0) << i;
}

}  // namespace
