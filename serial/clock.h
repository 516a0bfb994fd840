// The monotonic clock for time-outs: milliseconds and microseconds as signed
// 64-bit values from the platform's own start point. The source is chosen on
// the first reading: the performance counter when there is one, else the
// 32-bit tick count carried across its wrap-around.
#pragma once

#include <cstdint>

enum : int16_t { CLOCK_TICKS = 0, CLOCK_COUNTER = 1, CLOCK_UNPROBED = 2 };

extern int16_t clock_mode;
extern uint32_t tick_last;
extern uint64_t tick_wrap;
extern int64_t counter_freq;
extern int64_t ticks_per_ms;
extern int64_t half_tick;

int64_t ms_now();
int64_t us_now();
uint64_t tick_ms();
void clock_probe();
