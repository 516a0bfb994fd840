// What a wave-out pool costs while its owner waits for free buffers: the
// tone thread's loop (two buffers of 100 ms, a 1 ms sleep between tries) run
// for some seconds against ALSA's file plugin, which swallows the sound at
// once, so the backend has to keep time itself. Prints the process's CPU
// time (owner and writer threads together) as a share of one core.
//
//   sound_wait [seconds] [device]   "device" plays on the machine's own default
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "audio/wave.h"

namespace {

double cpu_seconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 5;
    std::string conf = "/tmp/rxmon-sound-wait-" + std::to_string(getpid()) + ".conf";
    if (!(argc > 2 && strcmp(argv[2], "device") == 0)) {
        std::ofstream(conf) << "pcm.!default { type file; slave.pcm \"null\"; file \"/dev/null\"; format \"raw\" }\n";
        setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);
    }

    static WavePool pool;
    int32_t rate = 0;
    for (int32_t r : {96000, 48000, 44100, 22050, 11025})
        if (wave_open(&pool, 0, 1, r, 16, 2, r / 10 * 2) == MMSYSERR_NOERROR) {
            rate = r;
            break;
        }
    unlink(conf.c_str());
    if (rate == 0) {
        fprintf(stderr, "no wave-out device opens\n");
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    const int32_t step = tone_step(440, rate);
    long buffers = 0, waits = 0;
    double cpu_start = cpu_seconds();
    Clock::time_point start = Clock::now();
    auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < end) {
        WAVEHDR* h = wave_take(&pool);
        if (h == nullptr) {
            ++waits;
            Sleep(1);
            continue;
        }
        tone_fill(reinterpret_cast<int16_t*>(h->lpData), pool.size / 2, step, 50, TONE_SQUARE);
        wave_submit(&pool, h, pool.size);
        ++buffers;
    }
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = cpu_seconds() - cpu_start;
    wave_close(&pool, 1);

    // The same waiting with no sound at all: what the 1 ms sleeps alone cost
    // on this machine, for comparison.
    double bare_start = cpu_seconds();
    start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(2)) Sleep(1);
    double bare = (cpu_seconds() - bare_start) / std::chrono::duration<double>(Clock::now() - start).count();

    printf("rate %d: %ld buffers of 100 ms in %.2f s (%.1f s of sound), %ld waits of 1 ms\n", rate, buffers, wall,
           buffers * 0.1, waits);
    printf("CPU %.1f ms = %.2f %% of one core (1 ms sleeps alone: %.2f %%)\n", cpu * 1000, 100 * cpu / wall,
           100 * bare);
    return 0;
}
