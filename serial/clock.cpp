// The millisecond clock.
#include "serial/clock.h"

#include "platform/win32.h"

int16_t clock_mode = CLOCK_UNPROBED;
uint32_t tick_last = 0;
uint64_t tick_wrap = 0;
int64_t counter_freq = 0;
int64_t ticks_per_ms = 0;
int64_t half_tick = 0;

uint64_t tick_ms() {
    uint32_t t = GetTickCount();
    if (t < tick_last) tick_wrap += uint64_t(1) << 32;
    tick_last = t;
    return tick_wrap + t;
}

// A counter slower than 500 Hz would round to zero counts per millisecond;
// such a counter is no better than the tick count, which is used instead.
void clock_probe() {
    LARGE_INTEGER f;
    f.QuadPart = 0;
    BOOL ok = QueryPerformanceFrequency(&f);
    counter_freq = f.QuadPart;
    clock_mode = ok && counter_freq >= 500 ? CLOCK_COUNTER : CLOCK_TICKS;
    ticks_per_ms = (counter_freq + 500) / 1000;
    half_tick = (ticks_per_ms + 1) / 2;
}

int64_t us_now() {
    for (;;) {
        switch (clock_mode) {
            case CLOCK_TICKS: return static_cast<int64_t>(tick_ms() * 1000);
            case CLOCK_COUNTER: {
                LARGE_INTEGER c;
                QueryPerformanceCounter(&c);
                // (c × 1000 + half) / ticks_per_ms, split so that c × 1000
                // cannot overflow however long the machine has been up.
                int64_t whole = c.QuadPart / ticks_per_ms, rest = c.QuadPart % ticks_per_ms;
                return whole * 1000 + (rest * 1000 + half_tick) / ticks_per_ms;
            }
            default: clock_probe();
        }
    }
}

int64_t ms_now() {
    for (;;) {
        switch (clock_mode) {
            case CLOCK_TICKS: return static_cast<int64_t>(tick_ms());
            case CLOCK_COUNTER: return (us_now() + 500) / 1000;
            default: clock_probe();
        }
    }
}
