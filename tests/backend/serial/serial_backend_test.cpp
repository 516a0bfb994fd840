// The POSIX serial backend against a real pseudo-terminal: the test holds
// the master side and plays the far end of the line; COM7 is the slave.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "serial/port.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class PtyLine : public ::testing::Test {
protected:
    int master = -1;
    std::string slave;

    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = ptsname(master);
        setenv("RXMON_COM7", slave.c_str(), 1);
    }
    void TearDown() override {
        port_close(7);
        if (master >= 0) close(master);
        unsetenv("RXMON_COM7");
    }
    termios line() {
        termios t{};
        tcgetattr(master, &t);
        return t;
    }
    // Everything the far end receives within `ms` after the first byte.
    std::string far_end_reads(size_t want, int ms = 2000) {
        std::string got;
        auto start = Clock::now();
        while (got.size() < want && ms_since(start) < ms) {
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buf[512];
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) got.append(buf, n);
        }
        return got;
    }
    // port_read until `want` bytes have come or `ms` pass.
    std::string port_reads(size_t want, int ms = 2000) {
        std::string got;
        auto start = Clock::now();
        while (got.size() < want && ms_since(start) < ms) {
            char buf[256];
            int32_t n = port_read(7, buf, 256);
            if (n < 0) break;
            if (n == 0) usleep(1000);
            got.append(buf, n);
        }
        return got;
    }
};

TEST_F(PtyLine, TheFarEndSeesEachRateThatIsSet) {
    struct {
        int32_t baud;
        speed_t code;
    } rates[] = {{9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
                 {1200, B1200}, {230400, B230400}};
    for (auto r : rates) {
        ASSERT_EQ(port_open(7, r.baud, 8, 0, 1), 0) << r.baud;
        termios t = line();
        EXPECT_EQ(cfgetospeed(&t), r.code) << r.baud;
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8)) << r.baud;
    }
}

TEST_F(PtyLine, StopBitsReachTheLineAndComeBack) {
    ASSERT_EQ(port_open(7, 9600, 8, 0, 2), 0);
    termios t = line();
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8 | CSTOPB));
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port_table[7].handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
}

// A pseudo-terminal carries only 8 bits without parity, and termios has no
// name for some Windows rates: such a record is refused whole, so the rate
// stays as it was.
TEST_F(PtyLine, SettingsTheLineCannotTakeAreRefusedWhole) {
    ASSERT_EQ(port_open(7, 19200, 8, 0, 1), 0);
    HANDLE h = port_table[7].handle;
    DCB dcb{};
    ASSERT_TRUE(GetCommState(h, &dcb));
    DCB seven_even = dcb, seven_mark = dcb, odd_rate = dcb, odd_stop = dcb;
    seven_even.ByteSize = seven_mark.ByteSize = 7;
    seven_even.Parity = EVENPARITY;
    seven_mark.Parity = MARKPARITY;
    odd_rate.BaudRate = 14400;
    odd_stop.StopBits = ONE5STOPBITS;  // only with five data bits
    for (DCB want : {seven_even, seven_mark, odd_rate, odd_stop}) {
        if (want.BaudRate == 19200) want.BaudRate = 4800;
        EXPECT_FALSE(SetCommState(h, &want));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
        termios t = line();
        EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    }
}

TEST_F(PtyLine, EveryByteValuePassesUnchangedBothWays) {
    ASSERT_EQ(port_open(7, 115200, 8, 0, 1), 0);
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(port_write(7, all.data(), 256), 256);
    EXPECT_EQ(far_end_reads(256), all);
    ASSERT_EQ(write(master, all.data(), 256), 256);
    EXPECT_EQ(port_reads(256), all);
    EXPECT_EQ(port_table[7].bytes_in, 256u);
}

TEST_F(PtyLine, AReadTimeoutWaitsItsTimeThenReturnsWhatCame) {
    ASSERT_EQ(port_open(7, 9600, 8, 0, 1), 0);
    HANDLE h = port_table[7].handle;
    COMMTIMEOUTS t = {0, 0, 150, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(h, &t));
    char buf[16];
    DWORD got = 99;
    auto start = Clock::now();
    EXPECT_TRUE(ReadFile(h, buf, 16, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms_since(start), 140);
    ASSERT_EQ(write(master, "ab", 2), 2);
    EXPECT_TRUE(ReadFile(h, buf, 16, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "ab");
}

TEST_F(PtyLine, AWriteThatTheLineWillNotTakeEndsShortAtItsTimeout) {
    ASSERT_EQ(port_open(7, 9600, 8, 0, 1), 0);
    ASSERT_EQ(port_set_timeouts(7, MAXDWORD, 0, 0, 0, 200), 1);
    // Nobody reads the far end, so the terminal's buffers fill up.
    std::string big(1 << 20, 'w');
    auto start = Clock::now();
    int32_t n = port_write(7, big.data(), static_cast<int32_t>(big.size()));
    int64_t took = ms_since(start);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int32_t>(big.size()));
    EXPECT_GE(took, 190);
    EXPECT_LT(took, 2000);
    EXPECT_EQ(port_table[7].bytes_out, uint64_t(n));
}

TEST_F(PtyLine, APortOpensForOneHandleAtATime) {
    ASSERT_EQ(port_open(7, 9600, 8, 0, 1), 0);
    for (const char* name : {"COM7", "\\\\.\\COM7", "com7"}) {
        HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED)) << name;
    }
    port_close(7);
    HANDLE h = CreateFileA("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(PtyLine, AVanishedDeviceFailsEveryCallAtOnce) {
    ASSERT_EQ(port_open(7, 9600, 8, 0, 1), 0);
    HANDLE h = port_table[7].handle;
    close(master);
    master = -1;
    auto start = Clock::now();
    DWORD errors = 0, got = 0;
    COMSTAT status{};
    char buf[8];
    EXPECT_FALSE(ClearCommError(h, &errors, &status));
    EXPECT_FALSE(ReadFile(h, buf, 8, &got, nullptr));
    EXPECT_FALSE(WriteFile(h, "x", 1, &got, nullptr));
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(port_getc(7), -2);
    EXPECT_EQ(port_putc(7, 'x'), -2);
    EXPECT_LT(ms_since(start), 500);
}

TEST(SerialNames, AMissingDeviceOrOneThatIsNoTerminalDoesNotOpen) {
    setenv("RXMON_COM8", "/nonexistent/tty", 1);
    EXPECT_EQ(port_open(8, 9600, 8, 0, 1), 1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    setenv("RXMON_COM8", "/dev/null", 1);
    EXPECT_EQ(port_open(8, 9600, 8, 0, 1), 1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    unsetenv("RXMON_COM8");
}

}  // namespace
