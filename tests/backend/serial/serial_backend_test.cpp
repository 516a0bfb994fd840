// The POSIX serial backend against a real pseudo-terminal: the test holds
// the master side and plays the far end of the line; COM7 is the slave.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>
#include "serial/port.h"

namespace {
using Clock = std::chrono::steady_clock;
int64_t ms_since(Clock::time_point t) { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count(); }

struct PtyLine : ::testing::Test {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    void SetUp() override {
        ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        setenv("RXMON_COM7", ptsname(master), 1);
    }
    void TearDown() override {
        port_close(7);
        if (master >= 0) close(master);
    }
    HANDLE open7(int32_t baud = 9600, int32_t stop = 1) {
        EXPECT_EQ(port_open(7, baud, 8, 0, stop), 0) << baud;
        return port_table[7].handle;
    }
};

TEST_F(PtyLine, TheFarEndSeesEachRateAndStopBitsThatAreSet) {
    const struct { int32_t baud; speed_t code; int32_t stop; } cases[] = {
        {9600, B9600, 1}, {19200, B19200, 2}, {38400, B38400, 1}, {57600, B57600, 1},
        {115200, B115200, 2}, {1200, B1200, 1}, {230400, B230400, 1}};
    for (auto c : cases) {
        HANDLE h = open7(c.baud, c.stop);
        termios t{};
        tcgetattr(master, &t);
        EXPECT_EQ(cfgetospeed(&t), c.code) << c.baud;
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8 | (c.stop == 2 ? CSTOPB : 0))) << c.baud;
        DCB dcb{};
        ASSERT_TRUE(GetCommState(h, &dcb));
        EXPECT_EQ(std::vector<int>({int(dcb.BaudRate), dcb.ByteSize, dcb.Parity, dcb.StopBits}),
                  std::vector<int>({c.baud, 8, NOPARITY, c.stop == 2 ? TWOSTOPBITS : ONESTOPBIT}));
    }
}

TEST_F(PtyLine, EveryByteValuePassesUnchangedBothWays) {
    open7(115200);
    std::string all, far, near;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(port_write(7, all.data(), 256), 256);
    ASSERT_EQ(write(master, all.data(), 256), 256);
    char buf[512];
    pollfd p = {master, POLLIN, 0};
    for (auto start = Clock::now(); (far.size() < 256 || near.size() < 256) && ms_since(start) < 2000;) {
        if (poll(&p, 1, 1) > 0) far.append(buf, std::max<ssize_t>(0, read(master, buf, sizeof buf)));
        near.append(buf, std::max(0, port_read(7, buf, 256)));
    }
    EXPECT_EQ(far, all);
    EXPECT_EQ(near, all);
    EXPECT_EQ(port_table[7].bytes_in, 256u);
}

TEST_F(PtyLine, AWriteThatTheLineWillNotTakeEndsShortAtItsTimeout) {
    open7();
    ASSERT_EQ(port_set_timeouts(7, MAXDWORD, 0, 0, 0, 200), 1);
    std::string big(1 << 20, 'w');  // nobody reads the far end: the terminal's buffers fill up
    auto start = Clock::now();
    int32_t n = port_write(7, big.data(), static_cast<int32_t>(big.size()));
    EXPECT_TRUE(n > 0 && n < static_cast<int32_t>(big.size())) << n;
    EXPECT_TRUE(ms_since(start) >= 190 && ms_since(start) < 2000) << ms_since(start);
    EXPECT_EQ(port_table[7].bytes_out, uint64_t(n));
}

TEST_F(PtyLine, APortOpensForOneHandleAtATime) {
    open7();
    for (const char* name : {"COM7", "\\\\.\\COM7", "com7"}) {
        EXPECT_EQ(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED)) << name;
    }
    port_close(7);
    HANDLE h = CreateFileA("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(PtyLine, AVanishedDeviceFailsEveryCallAtOnce) {
    HANDLE h = open7();
    close(master);
    master = -1;
    auto start = Clock::now();
    DWORD errors = 0, got = 0;
    COMSTAT status{};
    char buf[8];
    EXPECT_FALSE(ReadFile(h, buf, 8, &got, nullptr) || ClearCommError(h, &errors, &status) ||
                 WriteFile(h, "x", 1, &got, nullptr));  // the read first: it meets the hang-up itself
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(port_getc(7), -2) << i;
    EXPECT_EQ(port_putc(7, 'x'), -2);
    EXPECT_LT(ms_since(start), 500);
}

TEST(SerialNames, AMissingDeviceOrOneThatIsNoTerminalDoesNotOpen) {
    for (const char* path : {"/nonexistent/tty", "/dev/null"}) {
        setenv("RXMON_COM8", path, 1);
        EXPECT_EQ(port_open(8, 9600, 8, 0, 1), 1) << path;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND)) << path;
    }
}
}  // namespace
