// The network port against Debian's ser2net, which serves the test's
// pseudo-terminal over RFC 2217: COM9 is rfc2217://127.0.0.1:PORT, and the
// test holds the master side of the line behind the server.
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

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "serial/port.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A loopback socket listening on a port of the kernel's choosing.
int listener(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return -1;
    *port = ntohs(a.sin_port);
    return fd;
}

bool listening(int port) {
    char wanted[32];
    snprintf(wanted, sizeof wanted, ":%04X 00000000:0000 0A", port);
    std::ifstream tcp("/proc/net/tcp");
    for (std::string line; std::getline(tcp, line);)
        if (line.find(wanted) != std::string::npos) return true;
    return false;
}

class NetLine : public ::testing::Test {
protected:
    int master = -1;
    pid_t server = 0;
    std::string config = "/tmp/rxmon-net-" + std::to_string(getpid()) + ".yaml";
    std::string pid_file = config + ".pid";  // ser2net removes it at exit: never /dev/null

    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        int port = 0;
        close(listener(&port));
        std::ofstream(config) << "connection: &line\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
                              << "\n  connector: serialdev," << ptsname(master) << ",9600n81,local\n";
        const char* argv[] = {"ser2net", "-n", "-u", "-c", config.c_str(), "-P", pid_file.c_str(), nullptr};
        ASSERT_EQ(posix_spawnp(&server, "ser2net", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        for (int i = 0; i < 200 && !listening(port); ++i) usleep(10'000);
        ASSERT_TRUE(listening(port)) << "ser2net (scripts/install-deps installs it) does not listen";
        setenv("RXMON_COM9", ("rfc2217://127.0.0.1:" + std::to_string(port)).c_str(), 1);
    }
    void TearDown() override {
        port_close(9);
        if (server > 0) kill(server, SIGTERM), waitpid(server, nullptr, 0);
        close(master);
        unlink(config.c_str());
        unsetenv("RXMON_COM9");
    }
    std::string far_end_reads(size_t want) {
        std::string got;
        for (auto start = Clock::now(); got.size() < want && ms_since(start) < 2000;) {
            pollfd p = {master, POLLIN, 0};
            char buf[512];
            ssize_t n = poll(&p, 1, 50) > 0 ? read(master, buf, sizeof buf) : 0;
            if (n > 0) got.append(buf, n);
        }
        return got;
    }
};

TEST_F(NetLine, TheServerSetsEachRateOnItsLine) {
    for (auto [baud, code] : {std::pair{38400, B38400}, {115200, B115200}, {9600, B9600}}) {
        ASSERT_EQ(port_open(9, baud, 8, 0, 1), 0) << baud;
        termios t{};
        tcgetattr(master, &t);
        EXPECT_EQ(cfgetospeed(&t), code) << baud;
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port_table[9].handle, &dcb));
        EXPECT_EQ(dcb.BaudRate, DWORD(baud));
    }
}

// 255 is telnet's IAC: it must cross once, and count once in the queue.
TEST_F(NetLine, EveryByteValuePassesOnceAndTheQueueCountsData) {
    ASSERT_EQ(port_open(9, 115200, 8, 0, 1), 0);
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(port_write(9, all.data(), 256), 256);
    EXPECT_EQ(far_end_reads(256), all);
    ASSERT_EQ(write(master, all.data(), 256), 256);
    DWORD errors;
    COMSTAT status{};
    for (auto start = Clock::now(); status.cbInQue < 256 && ms_since(start) < 2000; usleep(5000))
        ASSERT_TRUE(ClearCommError(port_table[9].handle, &errors, &status));
    usleep(50'000);
    ASSERT_TRUE(ClearCommError(port_table[9].handle, &errors, &status));
    EXPECT_EQ(status.cbInQue, 256u);
    char got[300];
    EXPECT_EQ(port_read(9, got, 300), 256);
    EXPECT_EQ(std::string(got, 256), all);
}

TEST(NetNames, ASilentOrAbsentServerFailsTheOpenInTime) {
    int port = 0, silent = listener(&port);  // connects, then never says a word
    ASSERT_GE(silent, 0);
    std::string url = "rfc2217://127.0.0.1:" + std::to_string(port);
    for (const char* name : {url.c_str(), "rfc2217://127.0.0.1:1", "rfc2217://no-such-host.invalid:2000"}) {
        setenv("RXMON_COM9", name, 1);
        auto start = Clock::now();
        EXPECT_EQ(port_open(9, 9600, 8, 0, 1), 1) << name;
        EXPECT_LT(ms_since(start), 3000) << name;
    }
    close(silent);
    unsetenv("RXMON_COM9");
}

}  // namespace
