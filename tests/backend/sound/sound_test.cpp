// The ALSA sound backend, heard through ALSA's file plugin: each test's own
// ALSA configuration captures what is played into a file. The default device
// is fixed at 48000 samples per second without rate conversion, so that it
// refuses other rates as a real card does.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "audio/wav.h"

// A card without mixing, as the file plugin is not: while `exclusive`, a
// second open of the default PCM is refused as busy.
namespace busy {
bool exclusive;
snd_pcm_t* holder;
}  // namespace busy

extern "C" int snd_pcm_open(snd_pcm_t** pcm, const char* name, snd_pcm_stream_t stream, int mode) {
    static auto real = reinterpret_cast<decltype(&snd_pcm_open)>(dlsym(RTLD_NEXT, "snd_pcm_open"));
    bool is_default = busy::exclusive && strcmp(name, "default") == 0;
    if (is_default && busy::holder) return -EBUSY;
    int r = real(pcm, name, stream, mode);
    if (r == 0 && is_default) busy::holder = *pcm;
    return r;
}

extern "C" int snd_pcm_close(snd_pcm_t* pcm) {
    static auto real = reinterpret_cast<decltype(&snd_pcm_close)>(dlsym(RTLD_NEXT, "snd_pcm_close"));
    if (pcm == busy::holder) busy::holder = nullptr;
    return real(pcm);
}

namespace {

using Clock = std::chrono::steady_clock;

// Made on first use, removed when the test program ends.
const std::string& directory() {
    static struct Dir {
        std::string path;
        Dir() : path(mkdtemp(std::string("/tmp/rxmon-sound-XXXXXX").data())) {}
        ~Dir() { std::filesystem::remove_all(path); }
    } dir;
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

std::vector<int16_t> captured16() {
    std::ifstream in(capture_path(), std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
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

// Writes a 48000-per-second file of a made-up signal that reaches both ends
// of the scale, and returns its samples as 16-bit values.
std::vector<int32_t> write_wav(const std::string& path, int channels, int bits, int frames) {
    std::string data;
    std::vector<int32_t> samples;
    for (int i = 0; i < frames * channels; ++i) {
        int v = static_cast<int>(32767 * std::sin(i * 0.0137)) + (i % 7) * 3 - 9;
        v = i % 500 == 3 ? -32768 : std::clamp(v, -32768, 32767);
        if (bits == 8) v = (v + 32768) / 256 * 256 - 32768;
        data += bits == 8 ? le((v + 32768) >> 8, 1) : le(static_cast<uint16_t>(v), 2);
        samples.push_back(v);
    }
    int align = channels * bits / 8;
    std::string fmt = le(1, 2) + le(channels, 2) + le(48000, 4) + le(48000 * align, 4) + le(align, 2) + le(bits, 2);
    std::string body = "WAVEfmt " + le(16, 4) + fmt + "data" + le(static_cast<uint32_t>(data.size()), 4) + data;
    std::ofstream(path, std::ios::binary) << "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
    return samples;
}

// Rising zero crossings give the pitch; the extremes give the level.
struct Measured {
    int32_t low = 0, high = 0;
    double hz = 0;
};
Measured measure(const std::vector<int16_t>& s) {
    Measured m;
    size_t rising = 0, first = 0, last = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        m.low = std::min<int32_t>(m.low, s[i]);
        m.high = std::max<int32_t>(m.high, s[i]);
        if (i > 0 && s[i - 1] < 0 && s[i] >= 0) (rising++ == 0 ? first : last) = i;
    }
    if (rising > 1) m.hz = (rising - 1) * 48000.0 / double(last - first);
    return m;
}

struct SoundTest : ::testing::Test {
    WavePool pool{};
    void SetUp() override {
        use_alsa_config("pcm.!default { type plug; slave { pcm \"capture\"; rate 48000 } }\n"
                        "pcm.capture { type file; slave.pcm \"null\"; file \"" +
                        capture_path() + "\"; format \"raw\" }\n");
        unlink(capture_path().c_str());
        wav_stop.store(0);
    }
    int32_t play(const std::string& path, int32_t volume = 100) {
        std::string name = path;
        return wav_play(&pool, 0, name.data(), volume, nullptr);
    }
};

TEST_F(SoundTest, TheDefaultDeviceAndWhatItAccepts) {
    ASSERT_GE(wave_device_count(), 1);
    EXPECT_STREQ(wave_device_name(0), "Default sound output");
    EXPECT_STREQ(wave_device_name(WAVE_MAPPER), "Default sound output");
    const DWORD at48 = WAVE_FORMAT_48M16 | WAVE_FORMAT_48S16 | WAVE_FORMAT_48M08;
    EXPECT_EQ(wave_device_formats(0) & (at48 | WAVE_FORMAT_96M16 | WAVE_FORMAT_4M16 | WAVE_FORMAT_1M08), at48);
    EXPECT_EQ(wave_format_query(0, 2, 48000, 16), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_format_query(0, 1, 96000, 16), MMRESULT(WAVERR_BADFORMAT));
    EXPECT_EQ(wave_format_query(0, 1, 48000, 24), MMRESULT(WAVERR_BADFORMAT));
    EXPECT_EQ(wave_format_query(wave_device_count(), 1, 48000, 16), MMRESULT(MMSYSERR_BADDEVICEID));
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
    std::string path = directory() + "/silence.wav";
    write_wav(path, 1, 16, 0);
    EXPECT_EQ(wav_probe(0, path.data(), nullptr), WAV_NO_DEVICE);
    EXPECT_EQ(wav_probe(-1, path.data(), nullptr), WAV_DEVICE_REFUSES);

    Clock::time_point start = Clock::now();
    EXPECT_FALSE(Beep(440, 60));
    EXPECT_GE(ms_since(start), 59) << "Beep waits its time in silence";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(SoundTest, ABurstHasItsLengthPitchAndLevelInEveryShape) {
    for (int32_t shape : {TONE_SQUARE, TONE_TRIANGLE, TONE_SINE}) {
        SCOPED_TRACE(testing::Message() << "shape " << shape);
        unlink(capture_path().c_str());
        Clock::time_point start = Clock::now();
        ASSERT_EQ(tone_burst(&pool, 0, 1237, 250, 60, shape), 0);
        EXPECT_GE(ms_since(start), 245) << "the call lasts as long as the sound";
        EXPECT_LT(ms_since(start), 1500);

        std::vector<int16_t> s = captured16();
        ASSERT_EQ(s.size(), 12000u);  // 250 ms at 48000: 96000 was refused
        Measured m = measure(s);
        EXPECT_NEAR(m.hz, 1237, 1237 * 0.005);
        // The triangle's and sine's peaks fall between samples.
        EXPECT_NEAR(m.high, 19660, shape == TONE_SQUARE ? 0 : 200);
        EXPECT_NEAR(m.low, -19660, shape == TONE_SQUARE ? 0 : 200);
        // Phase 0 at the end: the square is at its top, the others at zero.
        EXPECT_EQ(s.back(), shape == TONE_SQUARE ? 19660 : 0);
    }
}

TEST_F(SoundTest, AFilePlaysSampleForSampleAtEveryVolume) {
    for (int bits : {8, 16})
        for (int channels : {1, 2})
            for (int volume : {50, 100, 200}) {
                SCOPED_TRACE(testing::Message() << bits << " bits, " << channels << " channels, volume " << volume);
                std::string path = directory() + "/in.wav";
                std::vector<int32_t> in = write_wav(path, channels, bits, 2400);
                unlink(capture_path().c_str());
                ASSERT_EQ(play(path, volume), 0);
                std::vector<int16_t> s = captured16();
                ASSERT_EQ(s.size(), in.size());
                for (size_t i = 0, mismatches = 0; i < s.size(); ++i) {
                    int32_t want = std::clamp<int32_t>((in[i] * volume + 50) / 100, -32768, 32767);
                    if (s[i] != want && mismatches++ < 3) ADD_FAILURE() << "sample " << i << ": " << s[i] << " not " << want;
                }
                EXPECT_EQ(wav_peak, 32768);  // the input's, before the volume
            }
}

// A stop resets the device: the buffer playing is cut short and the queued
// one dropped.
TEST_F(SoundTest, AStopFromAnotherThreadCutsPlaybackShort) {
    std::string path = directory() + "/long.wav";
    write_wav(path, 1, 16, 48000 * 4);
    Clock::time_point stopped;
    std::thread stopper([&stopped] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stopped = Clock::now();
        wav_stop.store(1);
    });
    EXPECT_EQ(play(path), 0);
    stopper.join();
    EXPECT_LT(ms_since(stopped), 300);
    EXPECT_EQ(wav_stop.load(), 0);
    size_t heard = captured16().size();
    EXPECT_LT(heard, 48000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(captured16().size(), heard) << "sound went on after the stop";
}

TEST_F(SoundTest, BeepPlaysItsToneForItsTime) {
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Beep(1000, 100));
    EXPECT_GE(ms_since(start), 95);
    std::vector<int16_t> s = captured16();
    ASSERT_EQ(s.size(), 4800u);
    Measured m = measure(s);
    EXPECT_EQ(m.high, 8192);
    EXPECT_NEAR(m.hz, 1000, 5);
    EXPECT_FALSE(Beep(20, 100));  // below what Windows accepts
}

// The longest beep plays in pieces until the process ends under it.
TEST_F(SoundTest, TheLongestBeepPlaysUntilTheProcessEnds) {
    pid_t child = fork();
    if (child == 0) {
        std::thread([] { Beep(1000, 0xFFFFFFFF); }).detach();
        Sleep(400);
        ExitProcess(captured16().size() >= 4800 ? 7 : 8);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << "status " << status;
}

TEST_F(SoundTest, DeviceNumbersHoldWhileTheToneHoldsTheDefault) {
    busy::exclusive = true;
    int32_t count = wave_device_count();
    ASSERT_EQ(wave_open(&pool, 0, 1, 48000, 16, 2, 9600), 0);
    EXPECT_EQ(wave_device_count(), count);
    EXPECT_STREQ(wave_device_name(0), "Default sound output");
    EXPECT_EQ(wave_close(&pool, 1), 0);
    busy::exclusive = false;
}

}  // namespace
