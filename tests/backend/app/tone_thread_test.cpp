// The monitor's tone thread over the ALSA backend and its writer thread,
// heard through ALSA's file plugin: the main thread changes the reading,
// the volume and the mute while the tone plays, as the polling cycle and
// the keys do, and the quit handshake closes the device; a device that
// refuses every write gives way to Beep output. The thread sanitizer watches
// the words the threads share here.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/monitor.h"

namespace {

struct Capture {
    std::string dir, file;
    explicit Capture(const char* target = nullptr) {
        char name[] = "/tmp/rxmon-tone-XXXXXX";
        dir = mkdtemp(name);
        file = target ? target : dir + "/capture.raw";
        std::string conf = dir + "/asound.conf";
        std::ofstream(conf) << "pcm.!default { type plug; slave { pcm \"capture\"; rate 48000 } }\n"
                               "pcm.capture { type file; slave.pcm \"null\"; file \""
                            << file << "\"; format \"raw\" }\n";
        setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);
    }
    ~Capture() { std::filesystem::remove_all(dir); }
    size_t bytes() const {
        std::error_code e;
        auto n = std::filesystem::file_size(file, e);
        return e ? 0 : static_cast<size_t>(n);
    }
    // Pitch (from rising zero crossings) and peak of what came after byte `from`.
    std::pair<double, int> measure(size_t from) const {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        std::string b = s.str().substr(from & ~size_t(1));
        std::vector<int16_t> v(b.size() / 2);
        memcpy(v.data(), b.data(), v.size() * 2);
        int peak = 0;
        std::vector<size_t> rises;
        for (size_t i = 0; i < v.size(); ++i) {
            peak = std::max(peak, std::abs(int(v[i])));
            if (i > 0 && v[i - 1] < 0 && v[i] >= 0) rises.push_back(i);
        }
        double hz = rises.size() > 2 ? (rises.size() - 1) * 48000.0 / double(rises.back() - rises.front()) : 0;
        return {hz, peak};
    }
};

void wait_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double cpu_seconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void start_tone(int32_t signal, int32_t volume) {
    build_pitch_table();
    mon.sound_choice = 1;
    mon.signal_index = signal;
    mon.volume = volume;
    mon.muted = 0;
    mon.quit_flag = 0;
    HANDLE thread = CreateThread(nullptr, 0, tone_thread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    CloseHandle(thread);
}

// The handshake: the thread closes its device and clears the flag.
void quit_tone() {
    auto start = std::chrono::steady_clock::now();
    mon.quit_flag = 1;
    while (mon.quit_flag.load() != 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) wait_ms(1);
    EXPECT_EQ(mon.quit_flag.load(), 0);
}

TEST(ToneThread, FollowsTheReadingVolumeAndMuteThenQuitsOnTheHandshake) {
    Capture capture;
    start_tone(400, 50);

    wait_ms(500);
    ASSERT_EQ(mon.sound_choice.load(), 1) << "no sound device opened";
    size_t from = capture.bytes();
    wait_ms(400);
    auto [hz, peak] = capture.measure(from);
    EXPECT_NEAR(hz, mon.pitch_table[400], mon.pitch_table[400] / 100.0);
    EXPECT_NEAR(peak, 32767 / 2, 2);

    // A new reading and a louder tone, heard within a few buffers.
    mon.signal_index = 700;
    mon.volume = 100;
    wait_ms(400);
    from = capture.bytes();
    wait_ms(400);
    std::tie(hz, peak) = capture.measure(from);
    EXPECT_NEAR(hz, mon.pitch_table[700], mon.pitch_table[700] / 100.0);
    EXPECT_EQ(peak, 32767);

    mon.muted = 1;
    wait_ms(400);
    from = capture.bytes();
    wait_ms(300);
    EXPECT_EQ(capture.measure(from).second, 0);

    quit_tone();
    size_t end = capture.bytes();
    wait_ms(200);
    EXPECT_EQ(capture.bytes(), end) << "sound went on after the handshake";
}

// The file plugin's writes to /dev/full fail once its own buffer is full, as
// a card pulled out fails them: after a second of refused buffers, each one
// a 1 ms pause rather than a spin, the thread gives way to Beep output.
TEST(ToneThread, ADeviceThatRefusesEveryWriteGivesWayToBeepOutput) {
    Capture gone("/dev/full");
    double cpu = cpu_seconds();
    auto start = std::chrono::steady_clock::now();
    start_tone(400, 50);
    while (mon.sound_choice.load() != 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) wait_ms(10);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu = cpu_seconds() - cpu;
    EXPECT_EQ(mon.sound_choice.load(), 0);
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(cpu / seconds, 0.2) << cpu << " s of CPU in " << seconds << " s";
    quit_tone();
}

}  // namespace
