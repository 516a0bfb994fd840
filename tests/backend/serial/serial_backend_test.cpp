// The POSIX serial backend against a real pseudo-terminal: the test holds
// the master side and plays the far end of the line; COM7 is the slave, or
// the same slave served by Debian's ser2net as rfc2217://127.0.0.1:PORT.
// (What cannot be a line, and why: tests/e2e/ports.sh.)
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>
#include "serial/port.h"

namespace {
using Clock = std::chrono::steady_clock;
int64_t ms_since(Clock::time_point t) { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count(); }

// A loopback port that the kernel has just given out, so free; and whether
// anything listens on it (without connecting, which ser2net would serve).
int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), size), getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size), close(fd);
    return ntohs(a.sin_port);
}
bool listening(int port) {
    char wanted[32];
    snprintf(wanted, sizeof wanted, ":%04X 00000000:0000 0A", port);
    std::ifstream tcp("/proc/net/tcp");
    for (std::string line; std::getline(tcp, line);)
        if (line.find(wanted) != std::string::npos) return true;
    return false;
}

struct PtyLine : ::testing::Test {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    pid_t server = 0;
    std::string config = "/tmp/rxmon-net-" + std::to_string(getpid()) + ".yaml";
    void SetUp() override {
        ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        setenv("RXMON_COM7", ptsname(master), 1);
    }
    // ser2net between the port and the line: the rates and bytes cross its RFC 2217.
    void serve() {
        int port = free_port();
        std::ofstream(config) << "connection: &line\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
                              << "\n  connector: serialdev," << ptsname(master) << ",9600n81,local\n";
        std::string pid_file = config + ".pid";  // ser2net removes it at exit: never /dev/null
        const char* argv[] = {"ser2net", "-n", "-u", "-c", config.c_str(), "-P", pid_file.c_str(), nullptr};
        ASSERT_EQ(posix_spawnp(&server, "ser2net", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        for (int i = 0; i < 200 && !listening(port); ++i) usleep(10'000);
        ASSERT_TRUE(listening(port)) << "ser2net (scripts/install-deps installs it) does not listen";
        setenv("RXMON_COM7", ("rfc2217://127.0.0.1:" + std::to_string(port)).c_str(), 1);
    }
    void TearDown() override {
        port_close(7);
        if (server > 0) kill(server, SIGTERM), waitpid(server, nullptr, 0), unlink(config.c_str());
        if (master >= 0) close(master);
    }
    HANDLE open7(int32_t baud = 9600, int32_t stop = 1) {
        EXPECT_EQ(port_open(7, baud, 8, 0, stop), 0) << baud;
        return port_table[7].handle;
    }
};

struct EitherLine : PtyLine, ::testing::WithParamInterface<bool> {
    void SetUp() override {
        PtyLine::SetUp();
        if (GetParam()) serve();
    }
};
INSTANTIATE_TEST_SUITE_P(PtyThenSer2net, EitherLine, ::testing::Values(false, true));

TEST_P(EitherLine, TheFarEndSeesEachRateAndStopBitsThatAreSet) {
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

// 255 is telnet's IAC: through ser2net it must cross once, and count once in the queue.
TEST_P(EitherLine, EveryByteValuePassesUnchangedBothWaysAndTheQueueCountsData) {
    HANDLE h = open7(115200);
    std::string all, far, near;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(port_write(7, all.data(), 256), 256);
    char buf[512];
    pollfd p = {master, POLLIN, 0};
    for (auto start = Clock::now(); far.size() < 256 && ms_since(start) < 2000;)
        if (poll(&p, 1, 5) > 0) far.append(buf, std::max<ssize_t>(0, read(master, buf, sizeof buf)));
    EXPECT_EQ(far, all);
    ASSERT_EQ(write(master, all.data(), 256), 256);
    DWORD errors;
    COMSTAT status{};
    for (auto start = Clock::now(); status.cbInQue < 256 && ms_since(start) < 2000; usleep(5000))
        ASSERT_TRUE(ClearCommError(h, &errors, &status));
    usleep(50'000);
    ASSERT_TRUE(ClearCommError(h, &errors, &status));
    EXPECT_EQ(status.cbInQue, 256u);
    EXPECT_EQ(port_read(7, buf, 300), 256);
    EXPECT_EQ(std::string(buf, 256), all);
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

}  // namespace
