// The millisecond clock over the fake's tick count and counter.
#include <gtest/gtest.h>

#include "serial/clock.h"
#include "tests/fake/fake.h"

namespace {

TEST(Clock, ACounterBelow500HzOrFailingGivesTheTickCountCarriedAcrossItsWrap) {
    for (auto [hz, ok] : {std::pair{10'000'000LL, FALSE}, {0LL, TRUE}, {499LL, TRUE}, {500LL, TRUE}}) {
        fake::reset();
        clock_mode = CLOCK_UNPROBED, tick_last = 0, tick_wrap = 0;
        fake::counter_hz = hz, fake::counter_ok = ok;
        fake::tick_count = 4294967290u;
        const int64_t first = ms_now(), again = ms_now();
        EXPECT_EQ(clock_mode, hz == 500 ? CLOCK_COUNTER : CLOCK_TICKS) << hz;
        if (hz == 500) continue;
        EXPECT_EQ(first, 4294967290);
        EXPECT_EQ(again, first);  // the same count is no wrap
        fake::tick_count = 5;
        EXPECT_EQ(us_now(), ((int64_t(1) << 32) + 5) * 1000);
        EXPECT_EQ(fake::count("QueryPerformanceFrequency"), 1);  // never probed again
    }
}

TEST(Clock, TheCounterIsRoundedToTheNearestMicroAndMillisecondWithoutOverflow) {
    fake::reset();
    clock_mode = CLOCK_UNPROBED;
    // Counts at 10 MHz: 1.5 ms; 1499.9 µs, which is 1500 µs and so 2 ms; 0.4 and 0.5 µs.
    for (auto [count, us, ms] : {std::tuple{15'000LL, 1500LL, 2LL}, {14'999LL, 1500LL, 2LL}, {14'949LL, 1495LL, 1LL},
                                 {4LL, 0LL, 0LL}, {5LL, 1LL, 0LL}}) {
        fake::counter = count;
        EXPECT_EQ(std::pair(us_now(), ms_now()), std::pair(int64_t(us), int64_t(ms))) << count;
    }
    fake::counter = int64_t(1) << 62;  // count × 1000 would not fit 64 bits; 2^62 ends in 4: rounded down
    EXPECT_EQ(us_now(), (int64_t(1) << 62) / 10);
}

}  // namespace
