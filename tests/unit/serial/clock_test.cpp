// The millisecond clock over the fake's tick count and counter.
#include <gtest/gtest.h>

#include "serial/clock.h"
#include "tests/fake/fake.h"

namespace {

TEST(Clock, AFailingOrSlowCounterGivesTheTickCountCarriedAcrossItsWrap) {
    for (auto [hz, ok] : {std::pair{10'000'000LL, FALSE}, {0LL, TRUE}, {499LL, TRUE}}) {
        fake::reset();
        clock_mode = CLOCK_UNPROBED, tick_last = 0, tick_wrap = 0;
        fake::counter_hz = hz, fake::counter_ok = ok;
        fake::tick_count = 4294967290u;
        EXPECT_EQ(ms_now(), 4294967290) << hz;
        EXPECT_EQ(clock_mode, CLOCK_TICKS) << hz;
        fake::tick_count = 5;
        EXPECT_EQ(us_now(), ((int64_t(1) << 32) + 5) * 1000);
        EXPECT_EQ(fake::count("QueryPerformanceFrequency"), 1);  // never probed again
        EXPECT_EQ(fake::count("QueryPerformanceCounter"), 0);
    }
}

TEST(Clock, TheCounterIsRoundedToTheNearestMicroAndMillisecondWithoutOverflow) {
    fake::reset();
    clock_mode = CLOCK_UNPROBED;
    // Counts at 10 MHz: 1.5 ms; 1499.9 µs, which is 1500 µs and so 2 ms; 0.4 and 0.5 µs.
    const int64_t cases[][3] = {{15'000, 1500, 2}, {14'999, 1500, 2}, {14'949, 1495, 1}, {4, 0, 0}, {5, 1, 0}};
    for (auto [count, us, ms] : cases) {
        fake::counter = count;
        EXPECT_EQ(us_now(), us) << count;
        EXPECT_EQ(ms_now(), ms) << count;
    }
    fake::counter = int64_t(1) << 62;  // count × 1000 would not fit 64 bits
    EXPECT_EQ(us_now(), (int64_t(1) << 62) / 10);  // 2^62 ends in 4: rounded down
    EXPECT_EQ(clock_mode, CLOCK_COUNTER);
}

}  // namespace
