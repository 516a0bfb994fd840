// The pitch table and the tone thread, which plays the latest signal reading
// as a square wave, 100 ms a buffer, or falls back to Beep output when no
// wave-output device opens or when the device refuses every buffer for a
// second (a USB card pulled out while the tone plays).
#include "app/monitor.h"

#include "audio/wave.h"

namespace {
WavePool tone_pool;
int32_t tone_rate;
constexpr DWORD kRefusalsBeforeBeeps = 1000;  // ms
}  // namespace

void build_pitch_table() {
    int64_t v = 800000;  // 1/10000 Hz
    for (int32_t i = 0; i < 1024; ++i) {
        mon.pitch_table[i] = static_cast<int32_t>(v / 10000);
        int64_t next = v * 1006 / 1000;
        v = next / 10000 == v / 10000 ? v + 10000 : next;
    }
}

int32_t tone_increment(int32_t pitch, int32_t rate) {
    return static_cast<int32_t>((int64_t(pitch) * 360000 + rate / 2) / rate);
}

int32_t tone_index(int32_t signal, int16_t muted) {
    if (muted || signal < 0 || signal > 1023) return 0;
    return signal;
}

void tone_fill(int16_t* samples, int32_t count, int32_t increment, int32_t volume) {
    int32_t p = 0;
    for (int32_t i = count - 1; i >= 0; --i) {
        int32_t level = p < 180000 ? 32767 : -32767;
        samples[i] = static_cast<int16_t>(level * volume / 100);
        p -= increment;
        if (p < 0) p += 360000;
    }
}

DWORD WINAPI tone_thread(LPVOID) {
    tone_rate = 0;
    if (mon.sound_choice.load() >= 1) {
        for (int32_t r = 4; r >= 0; --r) {
            int32_t rate = mon.sample_rates[r];
            if (wave_open(&tone_pool, mon.sound_choice.load() - 1, 1, rate, 16, 2, rate / 10 * 2) == 0) {
                tone_rate = rate;
                break;
            }
        }
    }
    if (mon.sound_choice.load() < 1 || tone_rate == 0) mon.sound_choice = 0;

    WAVEHDR* refused = nullptr;  // the buffer the device last refused, still filled
    DWORD refused_since = 0;
    while (mon.quit_flag.load() == 0) {
        if (mon.sound_choice.load() == 0) {
            Sleep(1);
            continue;
        }
        WAVEHDR* buffer = wave_take(&tone_pool);
        if (buffer == nullptr) {
            Sleep(1);
            continue;
        }
        if (buffer != refused) {
            int32_t idx = tone_index(mon.signal_index.load(), mon.muted.load());
            auto* samples = reinterpret_cast<int16_t*>(buffer->lpData);
            int32_t count = tone_pool.size / 2;
            if (idx == 0) {
                for (int32_t i = 0; i < count; ++i) samples[i] = 0;
            } else {
                tone_fill(samples, count, tone_increment(mon.pitch_table[idx], tone_rate), mon.volume.load());
            }
        }
        if (wave_submit(&tone_pool, buffer, tone_pool.size) == MMSYSERR_NOERROR) {
            refused = nullptr;
            continue;
        }
        // A refused buffer comes straight back: without the pause the
        // thread would refill and resubmit it as fast as a core allows.
        if (refused == nullptr) refused_since = GetTickCount();
        refused = buffer;
        if (GetTickCount() - refused_since >= kRefusalsBeforeBeeps) {
            wave_close(&tone_pool, 1);
            mon.sound_choice = 0;
        }
        Sleep(1);
    }
    if (mon.sound_choice.load() != 0) wave_close(&tone_pool, 1);
    mon.quit_flag = 0;
    ExitThread(0);
}
