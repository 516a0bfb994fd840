// The ALSA sound backend, and the monitor's tone thread on it, heard through
// ALSA's file plugin: what is played is captured into a file. The default
// device is fixed at 48000 samples per second without rate conversion, so
// that it refuses other rates as a real card does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>
#include "app/monitor.h"
#include "audio/wav.h"

namespace {
using Clock = std::chrono::steady_clock;
double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }
void wait_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Directory {
    std::string path = mkdtemp(std::string("/tmp/rxmon-sound-XXXXXX").data());
    ~Directory() { std::filesystem::remove_all(path); }
};
const std::string& directory() { static Directory d; return d.path; }  // made on first use, removed at the end
std::string capture_path() { return directory() + "/capture.raw"; }

// A new file each time: ALSA reloads its configuration when the list of
// files changes, but may miss a file rewritten within the same second.
void use_alsa_config(const std::string& body) {
    static int generation = 0;
    std::string conf = directory() + "/asound-" + std::to_string(++generation) + ".conf";
    std::ofstream(conf) << body;
    setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);
}
void capture_to_file(const std::string& file = capture_path()) {  // at 48000 only, as a real card
    use_alsa_config("pcm.!default { type plug; slave { pcm \"capture\"; rate 48000 } }\n"
                    "pcm.capture { type file; slave.pcm \"null\"; file \"" + file + "\"; format \"raw\" }\n");
    unlink(capture_path().c_str());
}

std::vector<int16_t> captured16(size_t from = 0) {  // the samples captured from byte `from` on
    std::ifstream in(capture_path(), std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    size_t skip = std::min(bytes.size() / 2, from / 2);
    std::vector<int16_t> s(bytes.size() / 2 - skip);
    memcpy(s.data(), bytes.data() + skip * 2, s.size() * 2);
    return s;
}
size_t captured_bytes() { return captured16().size() * 2; }

// The peak, and the pitch from the rising zero crossings.
std::pair<int32_t, double> measure(const std::vector<int16_t>& s) {
    int32_t peak = 0;
    size_t rising = 0, first = 0, last = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        peak = std::max<int32_t>(peak, std::abs(s[i]));
        if (i > 0 && s[i - 1] < 0 && s[i] >= 0) (rising++ == 0 ? first : last) = i;
    }
    return {peak, rising > 1 ? (rising - 1) * 48000.0 / double(last - first) : 0};
}

TEST(SoundTest, TheDefaultDeviceWhatItAcceptsAndItsBeep) {
    capture_to_file();
    ASSERT_GE(wave_device_count(), 1);
    EXPECT_STREQ(wave_device_name(0), "Default sound output");
    EXPECT_STREQ(wave_device_name(WAVE_MAPPER), "Default sound output");
    const DWORD at48 = WAVE_FORMAT_48M16 | WAVE_FORMAT_48S16 | WAVE_FORMAT_48M08;
    EXPECT_EQ(wave_device_formats(0) & (at48 | WAVE_FORMAT_96M16 | WAVE_FORMAT_4M16 | WAVE_FORMAT_1M08), at48);
    EXPECT_EQ(wave_format_query(0, 2, 48000, 16), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_format_query(0, 1, 96000, 16), MMRESULT(WAVERR_BADFORMAT));
    EXPECT_EQ(wave_format_query(0, 1, 48000, 24), MMRESULT(WAVERR_BADFORMAT));
    EXPECT_EQ(wave_format_query(wave_device_count(), 1, 48000, 16), MMRESULT(MMSYSERR_BADDEVICEID));
    auto start = Clock::now();
    EXPECT_TRUE(Beep(1000, 100));
    EXPECT_GE(ms_since(start), 95);
    ASSERT_EQ(captured16().size(), 4800u);
    auto [peak, hz] = measure(captured16());
    EXPECT_EQ(peak, 8192);
    EXPECT_NEAR(hz, 1000, 5);
    EXPECT_FALSE(Beep(20, 100));  // below what Windows accepts
}

TEST(SoundTest, NoSoundDeviceGivesTheRefusalsAndALSASaysNothing) {
    use_alsa_config("");
    WavePool pool{};
    if (wave_device_count() > 0) GTEST_SKIP() << "this machine has a sound card";
    testing::internal::CaptureStderr();
    EXPECT_EQ(wave_device_count(), 0);
    EXPECT_EQ(wave_open(&pool, 0, 1, 48000, 16, 2, 9600), MMRESULT(MMSYSERR_BADDEVICEID));
    auto start = Clock::now();
    EXPECT_FALSE(Beep(440, 60));
    EXPECT_GE(ms_since(start), 59) << "Beep waits its time in silence";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// The tone thread as the monitor runs it, the reading, volume and mute
// changed while it plays; a change is heard within 300 ms.
TEST(ToneThread, FollowsTheReadingVolumeAndMuteThenQuitsOnTheHandshake) {
    capture_to_file();
    build_pitch_table();
    mon.sound_choice = 1, mon.signal_index = 400, mon.volume = 50, mon.muted = 0, mon.quit_flag = 0;
    HANDLE thread = CreateThread(nullptr, 0, tone_thread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    wait_ms(500);
    ASSERT_EQ(mon.sound_choice.load(), 1) << "no sound device opened";
    for (auto [signal, volume, muted] : {std::tuple{400, 50, 0}, {700, 100, 0}, {700, 100, 1}}) {
        mon.signal_index = signal, mon.volume = volume, mon.muted = muted;
        wait_ms(400);
        size_t from = captured_bytes();
        wait_ms(400);
        auto [peak, hz] = measure(captured16(from));
        EXPECT_NEAR(muted ? 0 : hz, muted ? 0 : mon.pitch_table[signal], mon.pitch_table[signal] / 100.0) << signal;
        EXPECT_NEAR(peak, muted ? 0 : 32767 * volume / 100, 2) << volume << (muted ? ", muted" : "");
    }
    size_t from = captured_bytes();
    mon.muted = 0;
    wait_ms(600);
    std::vector<int16_t> after = captured16(from);
    size_t silent = std::find_if(after.begin(), after.end(), [](int16_t v) { return v != 0; }) - after.begin();
    EXPECT_LE(silent, 48u * 300) << "unmuted, heard after " << silent / 48 << " ms";

    // The handshake: the thread closes its device and clears the flag.
    auto start = Clock::now();
    mon.quit_flag = 1;
    while (mon.quit_flag.load() != 0 && ms_since(start) < 3000) wait_ms(1);
    EXPECT_EQ(mon.quit_flag.load(), 0);
    size_t end = captured_bytes();
    wait_ms(200);
    EXPECT_EQ(captured_bytes(), end) << "sound went on after the handshake";
    CloseHandle(thread);
}

// The file plugin's writes to /dev/full fail once its own buffer is full, as
// a card pulled out fails them: after a second of refused buffers, each one
// a 1 ms pause rather than a spin, the thread gives way to Beep output.
TEST(ToneThread, ADeviceThatRefusesEveryWriteGivesWayToBeepOutput) {
    capture_to_file("/dev/full");
    double cpu = double(std::clock()) / CLOCKS_PER_SEC;  // of the whole process
    auto start = Clock::now();
    mon.sound_choice = 1, mon.quit_flag = 0;
    CloseHandle(CreateThread(nullptr, 0, tone_thread, nullptr, 0, nullptr));
    while (mon.sound_choice.load() != 0 && ms_since(start) < 5000) wait_ms(10);
    double seconds = ms_since(start) / 1000;
    cpu = double(std::clock()) / CLOCKS_PER_SEC - cpu;
    EXPECT_EQ(mon.sound_choice.load(), 0);
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(cpu / seconds, 0.2) << cpu << " s of CPU in " << seconds << " s";
    mon.quit_flag = 1;
    while (mon.quit_flag.load() != 0 && ms_since(start) < 8000) wait_ms(1);
}
}  // namespace
