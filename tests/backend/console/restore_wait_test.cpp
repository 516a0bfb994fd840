// Giving the console back waits for the blink thread, which answers only
// when its present sleep (up to 700 ms) ends: found by the unplugged
// scanner's end-to-end test, that wait must sleep, not keep a processor
// busy while every way out of the program passes through it.
#include <gtest/gtest.h>

#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

#include "console/screen.h"
#include "runtime/out.h"

namespace {

double thread_cpu_ms() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

TEST(RestoreWait, WaitingForTheBlinkThreadSleeps) {
    if (isatty(1)) GTEST_SKIP() << "standard output is a terminal here";
    std_init(1);
    scr_open(1, 20, 40);
    // Let the thread fall into its first 300 ms sleep.
    usleep(20'000);
    auto start = std::chrono::steady_clock::now();
    double cpu_before = thread_cpu_ms();
    scr_restore();
    double cpu = thread_cpu_ms() - cpu_before;
    double waited = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(blink_thread.load(), nullptr);  // it did wait for the thread
    EXPECT_GE(waited, 100);
    EXPECT_LT(cpu, waited / 10) << "waited " << waited << " ms, using " << cpu << " ms of processor time";
}

}  // namespace
