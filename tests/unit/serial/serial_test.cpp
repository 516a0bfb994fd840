// The port table over the fake's scripted COM devices, and the millisecond
// clock over the fake's tick count and counter.
#include <gtest/gtest.h>

#include <string>

#include "runtime/txt.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_serial.h"

namespace {

using Calls = std::vector<std::string>;

struct Port : ::testing::Test {
    char buf[400];
    fake::SerialDevice* d = nullptr;
    void SetUp() override {
        fake::reset();
        d = &fake::com(3);
        ASSERT_EQ(port_open(3, 9600, 8, 0, 1), 0);
        fake::calls.clear();
    }
    void TearDown() override { port_close(3); }
};

TEST_F(Port, BadNumbersAndClosedPortsAreErrorsAndOpeningSetsEightNoneOneWithoutHandshake) {
    for (int port : {0, 256, 5}) {  // 5 is valid but closed
        EXPECT_EQ(port_open(port, 9600, 8, 0, 1), 1);
        EXPECT_EQ(std::vector<int>({port_getc(port), port_putc(port, 'x'), port_set_timeouts(port, 0, 0, 0, 0, 0)}),
                  std::vector<int>(3, -2));
    }
    EXPECT_EQ(fake::calls, Calls{"CreateFileA"});  // only the open of COM5 reached the platform
    const DCB& s = d->state;  // the device started at 1200 baud 7M1.5 with every handshake on
    EXPECT_EQ(std::vector<int>({int(s.BaudRate), s.ByteSize, s.Parity, s.StopBits, int(s.fDtrControl), s.XonChar}),
              std::vector<int>({9600, 8, NOPARITY, ONESTOPBIT, DTR_CONTROL_ENABLE, 0}));
    EXPECT_EQ(s.fOutxCtsFlow | s.fOutX | s.fInX | s.fNull | s.fAbortOnError | s.fParity, 0u);
    port_close(3);  // drops DTR and RTS before the handle goes
    EXPECT_EQ(std::vector<int>({int(s.fDtrControl), int(s.fRtsControl)}),
              std::vector<int>({DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE}));
    for (auto [code, parity] : {std::pair{1, ODDPARITY}, {3, EVENPARITY}, {5, MARKPARITY}, {7, SPACEPARITY}, {2, 99}}) {
        DCB dcb{};
        dcb.Parity = 99;  // even codes switch checking on but keep the device's parity
        port_make_dcb(&dcb, 9600, 7, code, 2);
        EXPECT_EQ(std::vector<int>({dcb.Parity, int(dcb.fParity), dcb.StopBits}),
                  std::vector<int>({parity, 1, TWOSTOPBITS})) << code;
    }
}

TEST_F(Port, AnEmptyQueueCostsNoSleepAndOnlyTheSixthGetcAsksTheDeviceAgain) {
    EXPECT_EQ(port_getc(3), -1);
    EXPECT_EQ(fake::calls, Calls{"ClearCommError"});
    d->send("h\xffllo");
    EXPECT_EQ(port_getc(3), 'h');
    fake::calls.clear();
    for (int c : {255, int('l'), int('l'), int('o')}) EXPECT_EQ(port_getc(3), c);  // bytes come back unsigned
    EXPECT_TRUE(fake::calls.empty());
    EXPECT_EQ(port_getc(3), -1);
    EXPECT_EQ(fake::calls, Calls{"ClearCommError"});
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>(1, 2));  // the one settling step of the burst
    d->status_fails = true;
    EXPECT_EQ(port_getc(3), -2);
}

// The settle loop waits in 2 ms steps until two counts agree or 256 bytes
// are there, then takes them in one read.
TEST_F(Port, ATrickleIsHeldByTheSettleLoopUntilItPausesOrFillsTheBuffer) {
    for (int i = 0; i < 10; ++i) d->send(std::string(1, char('0' + i)), i);  // a byte a millisecond, then a pause
    int n = port_read(3, buf, 64);
    EXPECT_EQ(std::string(buf, n), "0123456789");
    EXPECT_EQ(fake::count("ReadFile"), 1);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>(6, 2));  // counts 1,3,5,7,9,10,10
    d->send(std::string(300, 'q'));
    fake::sleeps.clear();
    EXPECT_EQ(port_read(3, buf, 400), 256);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>{2});
    EXPECT_EQ(port_read(3, buf, 400), 44);
    EXPECT_EQ(port_table[3].bytes_in, 310u);
    for (int i = 0; i < 1000; ++i) d->send("t", i * 2);  // one that never pauses: taken at 256
    fake::sleeps.clear();
    EXPECT_EQ(port_read(3, buf, 400), 256);
    EXPECT_LE(fake::sleeps.size(), 257u);
}

// A device that takes fewer bytes than offered holds the writer for the
// whole write timeout: 1 ms a byte plus 500.
TEST_F(Port, WritesCountWhatTheDeviceTookWithinTheTimeout) {
    EXPECT_EQ(port_puts(3, T("IDN\r")), 4);
    EXPECT_EQ(port_write(3, "\0\xff", 2), 2);
    EXPECT_EQ(port_write(3, "x", 0), -2);
    EXPECT_EQ(d->received, std::string("IDN\r\0\xff", 6));
    d->accepts = 0;
    int64_t start = fake::now_ms();
    EXPECT_EQ(port_putc(3, 'x'), -2);
    EXPECT_EQ(fake::now_ms() - start, 501);
    EXPECT_EQ(port_table[3].bytes_out, 6u);
}

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
