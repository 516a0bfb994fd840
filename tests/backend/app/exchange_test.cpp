// The scanner exchange end to end: the queries through the port table and
// the POSIX serial layer to rxmon-sim on a pseudo-terminal, on the real clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/scanner.h"
#include "app/state.h"
#include "serial/clock.h"
#include "serial/port.h"

namespace {

// rxmon-sim of this build tree, or the one RXMON_SIM names.
std::string sim_program() {
    if (const char* p = getenv("RXMON_SIM")) return p;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string path = n > 0 ? std::string(exe, n) : std::string();
    return path.substr(0, path.rfind('/')) + "/../sim/rxmon-sim";
}

class WithSim : public ::testing::Test {
protected:
    pid_t sim = 0;
    char reply[256];

    // Starts the simulator, quiet, with these options and points COM2 at it.
    void start(std::vector<std::string> args) {
        std::string path_file = testing::TempDir() + "rxmon-sim-" + std::to_string(getpid()) + ".path";
        unlink(path_file.c_str());
        args.insert(args.begin(), {sim_program(), "--path-file", path_file});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if ((sim = fork()) == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1), dup2(null, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ASSERT_GT(sim, 0);
        std::string slave;
        for (int i = 0; i < 200 && slave.empty(); ++i) {
            std::ifstream(path_file) >> slave;
            if (slave.empty()) usleep(10'000);
        }
        ASSERT_FALSE(slave.empty()) << "rxmon-sim did not start: " << argv[0];
        setenv("RXMON_COM2", slave.c_str(), 1);
        mon.port_number = 2;
        mon.model_a = mon.model_b = 0;
    }
    void TearDown() override {
        port_close(2);
        if (sim > 0) {
            kill(sim, SIGTERM);
            waitpid(sim, nullptr, 0);
        }
    }
};

TEST_F(WithSim, AtAnotherRateTheExchangeTimesOutAfter500msAndAtItsOwnItIsAnswered) {
    start({"--baud", "38400", "--model", "B", "--level", "1023", "--crlf"});
    open_at_baud(19200);
    int64_t begin = ms_now();
    EXPECT_EQ(query_model(reply), 1);
    EXPECT_GE(ms_now() - begin, 500);
    EXPECT_LT(ms_now() - begin, 700);

    open_at_baud(38400);
    EXPECT_EQ(query_model(reply), 0);
    EXPECT_STREQ(reply, "IDN,SR-B20");
    int32_t level = 0;
    EXPECT_EQ(query_level(&level), 0);
    EXPECT_EQ(level, 640);  // scaled for model B, as the model reply said
}

}  // namespace
