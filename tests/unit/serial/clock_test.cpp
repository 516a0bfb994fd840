// The millisecond clock over the fake's tick count and counter.
#include <gtest/gtest.h>

#include "serial/clock.h"
#include "tests/fake/fake.h"

namespace {

class Clock : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        clock_mode = CLOCK_UNPROBED;
        tick_last = 0;
        tick_wrap = 0;
    }
};

TEST_F(Clock, WithoutACounterTheTickCountIsUsedAndNeverProbedAgain) {
    fake::performance_frequency = [](LARGE_INTEGER* f) {
        f->QuadPart = 10'000'000;
        return FALSE;
    };
    fake::tick_count = 7000;
    EXPECT_EQ(ms_now(), 7000);
    EXPECT_EQ(clock_mode, CLOCK_TICKS);
    fake::tick_count = 7001;
    EXPECT_EQ(us_now(), 7'001'000);
    EXPECT_EQ(fake::count("QueryPerformanceFrequency"), 1);
    EXPECT_EQ(fake::count("QueryPerformanceCounter"), 0);
}

TEST_F(Clock, ACounterOfZeroOrBelow500HzCountsAsNone) {
    for (LONGLONG hz : {0LL, -5LL, 499LL}) {
        clock_mode = CLOCK_UNPROBED;
        fake::performance_frequency = [hz](LARGE_INTEGER* f) {
            f->QuadPart = hz;
            return TRUE;
        };
        ms_now();
        EXPECT_EQ(clock_mode, CLOCK_TICKS) << hz;
    }
}

TEST_F(Clock, TheTickCountIsCarriedAcrossItsWrap) {
    clock_mode = CLOCK_TICKS;
    fake::tick_count = 4294967290u;
    EXPECT_EQ(ms_now(), 4294967290);
    fake::tick_count = 5;
    EXPECT_EQ(ms_now(), (int64_t(1) << 32) + 5);
    fake::tick_count = 6;
    EXPECT_EQ(ms_now(), (int64_t(1) << 32) + 6);
}

TEST_F(Clock, TheCounterIsRoundedToTheNearestMicroAndMillisecond) {
    fake::counter = 15'000;  // 1.5 ms at 10 MHz
    EXPECT_EQ(us_now(), 1500);
    EXPECT_EQ(ticks_per_ms, 10000);
    EXPECT_EQ(half_tick, 5000);
    EXPECT_EQ(ms_now(), 2);
    fake::counter = 14'999;  // rounded twice: 1499.9 µs is 1500 µs, and that is 2 ms
    EXPECT_EQ(ms_now(), 2);
    fake::counter = 14'949;
    EXPECT_EQ(ms_now(), 1);
    fake::counter = 4;  // 0.4 µs
    EXPECT_EQ(us_now(), 0);
    fake::counter = 5;
    EXPECT_EQ(us_now(), 1);
}

TEST_F(Clock, AHugeCounterDoesNotOverflow) {
    // 2^62 counts at 10 MHz: c × 1000 would not fit in 64 bits.
    fake::counter = int64_t(1) << 62;
    int64_t expected_us = (int64_t(1) << 62) / 10;
    EXPECT_EQ(us_now(), expected_us + ((int64_t(1) << 62) % 10 >= 5 ? 1 : 0));
    EXPECT_GT(ms_now(), 0);
}

TEST_F(Clock, ReadingsFollowSleeps) {
    int64_t before = ms_now();
    Sleep(250);
    EXPECT_EQ(ms_now() - before, 250);
}

}  // namespace
