// The ALSA sound backend, heard through ALSA's file plugin: each test's own
// ALSA configuration captures what is played into a file, which the tests
// measure. The default device is a converter fixed at 48000 samples per
// second without rate conversion, so that it refuses other rates as a real
// card does.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/wav.h"

namespace {

using Clock = std::chrono::steady_clock;

// Made on first use, removed when the test program ends.
struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/rxmon-sound-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

std::string directory() {
    static TempDir dir;
    return dir.path;
}
std::string capture_path() { return directory() + "/capture.raw"; }

// A new file each time: ALSA reloads its configuration when the list of
// files changes, but may miss a file rewritten within the same second.
void use_alsa_config(const std::string& body) {
    static int generation = 0;
    std::string conf = directory() + "/asound-" + std::to_string(++generation) + ".conf";
    std::ofstream(conf) << body;
    setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);
}

void use_capture_device() {
    use_alsa_config("pcm.!default { type plug; slave { pcm \"capture\"; rate 48000 } }\n"
                    "pcm.capture { type file; slave.pcm \"null\"; file \"" +
                    capture_path() + "\"; format \"raw\" }\n");
}

std::vector<int16_t> captured16() {
    std::ifstream in(capture_path(), std::ios::binary);
    std::stringstream file;
    file << in.rdbuf();
    std::string bytes = file.str();
    std::vector<int16_t> s(bytes.size() / 2);
    memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}

// Samples of a made-up signal that reaches both ends of the scale.
std::string write_wav(const std::string& path, int channels, int bits, int frames) {
    std::string data;
    for (int i = 0; i < frames * channels; ++i) {
        int v = static_cast<int>(32767 * std::sin(i * 0.0137)) + (i % 7) * 3 - 9;
        v = i % 500 == 3 ? -32768 : v > 32767 ? 32767 : v;
        data += bits == 8 ? le(static_cast<uint8_t>((v + 32768) >> 8), 1) : le(static_cast<uint16_t>(v), 2);
    }
    int align = channels * bits / 8;
    std::string fmt = le(1, 2) + le(channels, 2) + le(48000, 4) + le(48000 * align, 4) + le(align, 2) + le(bits, 2);
    std::string body = "WAVEfmt " + le(16, 4) + fmt + "data" + le(static_cast<uint32_t>(data.size()), 4) + data;
    std::ofstream(path, std::ios::binary) << "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
    return data;
}

struct SoundTest : ::testing::Test {
    WavePool pool{};
    void SetUp() override {
        use_capture_device();
        unlink(capture_path().c_str());
        wav_stop.store(0);
    }
};

// --- Devices ---------------------------------------------------------------

TEST_F(SoundTest, TheDefaultDeviceAndWhatItAccepts) {
    ASSERT_GE(wave_device_count(), 1);
    EXPECT_STREQ(wave_device_name(0), "Default sound output");
    EXPECT_STREQ(wave_device_name(WAVE_MAPPER), "Default sound output");
    DWORD formats = wave_device_formats(0);
    const DWORD at48 = WAVE_FORMAT_48M16 | WAVE_FORMAT_48S16 | WAVE_FORMAT_48M08;
    EXPECT_EQ(formats & at48, at48);
    EXPECT_EQ(formats & (WAVE_FORMAT_96M16 | WAVE_FORMAT_4M16 | WAVE_FORMAT_1M08), 0u);
    EXPECT_EQ(wave_format_query(0, 2, 48000, 16), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_format_query(0, 1, 96000, 16), MMRESULT(WAVERR_BADFORMAT));
    EXPECT_EQ(wave_format_query(0, 1, 48000, 24), MMRESULT(WAVERR_BADFORMAT));
    EXPECT_EQ(wave_format_query(wave_device_count(), 1, 48000, 16), MMRESULT(MMSYSERR_BADDEVICEID));
    EXPECT_EQ(wave_open(&pool, 0, 1, 96000, 16, 2, 1000), MMRESULT(WAVERR_BADFORMAT));
}

TEST_F(SoundTest, NoSoundDeviceGivesTheRefusalsAndALSASaysNothing) {
    use_alsa_config("");
    if (wave_device_count() > 0) GTEST_SKIP() << "this machine has a sound card";
    testing::internal::CaptureStderr();
    EXPECT_EQ(wave_device_count(), 0);
    EXPECT_STREQ(wave_device_name(0), "");
    EXPECT_NE(wave_format_query(WAVE_MAPPER, 1, 48000, 16), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_open(&pool, 0, 1, 48000, 16, 2, 9600), MMRESULT(MMSYSERR_BADDEVICEID));
    EXPECT_EQ(tone_burst(&pool, 0, 440, 50, 50, TONE_SQUARE), MMSYSERR_BADDEVICEID);

    std::string wav = directory() + "/silence.wav";
    write_wav(wav, 1, 16, 0);
    char name[300];
    strcpy(name, wav.c_str());
    EXPECT_EQ(wav_probe(0, name, nullptr), WAV_NO_DEVICE);
    EXPECT_EQ(wav_probe(-1, name, nullptr), WAV_DEVICE_REFUSES);

    // Beep waits its time in silence.
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(Beep(440, 60));
    EXPECT_GE(ms_since(start), 59);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// --- Tone bursts -------------------------------------------------------------

struct Measured {
    int32_t low = 0, high = 0;
    int32_t rising = 0;        // crossings from below zero to zero or above
    double first = 0, last = 0;  // sample positions of the first and last of them
};

Measured measure(const std::vector<int16_t>& s) {
    Measured m;
    for (size_t i = 0; i < s.size(); ++i) {
        m.low = std::min<int32_t>(m.low, s[i]);
        m.high = std::max<int32_t>(m.high, s[i]);
        if (i > 0 && s[i - 1] < 0 && s[i] >= 0) {
            if (m.rising++ == 0) m.first = double(i);
            m.last = double(i);
        }
    }
    return m;
}

TEST_F(SoundTest, ABurstHasItsLengthPitchAndLevelInEveryShape) {
    for (int32_t shape : {TONE_SQUARE, TONE_TRIANGLE, TONE_SINE}) {
        unlink(capture_path().c_str());
        Clock::time_point start = Clock::now();
        ASSERT_EQ(tone_burst(&pool, 0, 1237, 250, 60, shape), 0) << shape;
        double took = ms_since(start);
        EXPECT_GE(took, 245) << "the call lasts as long as the sound";
        EXPECT_LT(took, 1500);

        std::vector<int16_t> s = captured16();
        ASSERT_EQ(s.size(), 12000u) << shape;  // 250 ms at 48000: 96000 was refused
        Measured m = measure(s);
        double pitch = (m.rising - 1) * 48000.0 / (m.last - m.first);
        EXPECT_NEAR(pitch, 1237, 1237 * 0.005) << shape;
        // The triangle's and sine's peaks fall between samples.
        EXPECT_NEAR(m.high, 19660, shape == TONE_SQUARE ? 0 : 200) << shape;
        EXPECT_NEAR(m.low, -19660, shape == TONE_SQUARE ? 0 : 200) << shape;
        // Phase 0 at the end: the square is at its top, the others at zero.
        EXPECT_EQ(s.back(), shape == TONE_SQUARE ? 19660 : 0) << shape;
    }
}

// --- WAV files -------------------------------------------------------------

TEST_F(SoundTest, AFilePlaysSampleForSampleAtEveryVolume) {
    for (int bits : {8, 16})
        for (int channels : {1, 2})
            for (int volume : {50, 100, 200}) {
                SCOPED_TRACE(testing::Message() << bits << " bits, " << channels << " channels, volume " << volume);
                std::string path = directory() + "/in.wav";
                std::string data = write_wav(path, channels, bits, 2400);
                unlink(capture_path().c_str());
                char name[300];
                strcpy(name, path.c_str());
                ASSERT_EQ(wav_play(&pool, 0, name, volume, nullptr), 0);
                std::vector<int16_t> s = captured16();
                ASSERT_EQ(s.size(), size_t(2400 * channels));
                int32_t peak = 0, mismatches = 0;
                for (size_t i = 0; i < s.size(); ++i) {
                    int32_t in = bits == 8 ? static_cast<uint8_t>(data[i]) * 256 - 32768
                                           : static_cast<int16_t>(static_cast<uint8_t>(data[2 * i]) |
                                                                  static_cast<uint8_t>(data[2 * i + 1]) << 8);
                    peak = std::max(peak, std::abs(in));
                    int32_t want = std::clamp<int32_t>((in * volume + 50) / 100, -32768, 32767);
                    if (s[i] != want && mismatches++ < 3) ADD_FAILURE() << "sample " << i << ": " << s[i] << " not " << want;
                }
                EXPECT_EQ(wav_peak, peak);
                EXPECT_EQ(peak, 32768);
            }
}

TEST_F(SoundTest, AStopFromAnotherThreadEndsPlaybackEarly) {
    std::string path = directory() + "/long.wav";
    write_wav(path, 1, 16, 48000 * 4);
    char name[300];
    strcpy(name, path.c_str());
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        wav_stop.store(1);
    });
    Clock::time_point start = Clock::now();
    EXPECT_EQ(wav_play(&pool, 0, name, 100, nullptr), 0);
    double took = ms_since(start);
    stopper.join();
    EXPECT_GE(took, 290);
    EXPECT_LT(took, 1500);
    EXPECT_EQ(wav_stop.load(), 0);
    EXPECT_LT(captured16().size(), size_t(48000 * 2));
}

// --- The pool over the device ------------------------------------------------

TEST_F(SoundTest, AResetCloseCutsPlaybackShortAndADrainingOneWaits) {
    ASSERT_EQ(wave_open(&pool, 0, 1, 48000, 16, 2, 96000), MMSYSERR_NOERROR);  // 1 s each
    wave_submit(&pool, wave_take(&pool), 96000);
    wave_submit(&pool, wave_take(&pool), 96000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Clock::time_point start = Clock::now();
    EXPECT_EQ(wave_close(&pool, 1), MMSYSERR_NOERROR);
    EXPECT_LT(ms_since(start), 300);
    EXPECT_LT(captured16().size(), 48000u);

    ASSERT_EQ(wave_open(&pool, 0, 1, 48000, 16, 2, 9600), MMSYSERR_NOERROR);  // 100 ms each
    start = Clock::now();
    for (int i = 0; i < 4;) {
        if (WAVEHDR* h = wave_take(&pool)) {
            wave_submit(&pool, h, 9600);
            ++i;
        } else {
            Sleep(1);
        }
    }
    EXPECT_EQ(wave_close(&pool, 0), MMSYSERR_NOERROR);
    EXPECT_GE(ms_since(start), 390);
    EXPECT_EQ(captured16().size(), 4 * 4800u);
}

TEST_F(SoundTest, BeepPlaysItsToneForItsTime) {
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Beep(1000, 100));
    EXPECT_GE(ms_since(start), 95);
    std::vector<int16_t> s = captured16();
    ASSERT_EQ(s.size(), 4800u);
    Measured m = measure(s);
    EXPECT_EQ(m.high, 8192);
    EXPECT_NEAR((m.rising - 1) * 48000.0 / (m.last - m.first), 1000, 5);
    EXPECT_FALSE(Beep(20, 100));  // below what Windows accepts
}

}  // namespace
