// The scanner exchange end to end: the queries through the port table and
// the POSIX serial layer to rxmon-sim on a pseudo-terminal, on the real clock.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/scanner.h"
#include "app/state.h"
#include "serial/clock.h"
#include "serial/port.h"

extern char** environ;

namespace {

// rxmon-sim of this build tree, or the one RXMON_SIM names.
std::string sim_program() {
    if (const char* p = getenv("RXMON_SIM")) return p;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = n > 0 ? std::string(exe, n) : std::string();
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/../sim/rxmon-sim";
}

class WithSim : public ::testing::Test {
protected:
    pid_t sim = 0;
    std::string path_file;
    char reply[256];

    // Starts the simulator with these options and points COM2 at it.
    void start(std::vector<std::string> options) {
        path_file = testing::TempDir() + "rxmon-sim-" + std::to_string(getpid()) + ".path";
        unlink(path_file.c_str());
        std::vector<std::string> args = {sim_program(), "--path-file", path_file};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(posix_spawn(&sim, argv[0], &quiet, nullptr, argv.data(), environ), 0) << argv[0];
        posix_spawn_file_actions_destroy(&quiet);
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
            int status;
            waitpid(sim, &status, 0);
        }
    }
};

TEST_F(WithSim, EachQueryReadsItsAnswerAtTheScannersRate) {
    start({"--baud", "38400", "--model", "B", "--level", "1023", "--signal", "fixed:300", "--crlf"});
    open_at_baud(38400);
    EXPECT_EQ(query_model(reply), 0);
    EXPECT_STREQ(reply, "IDN,SR-B20");
    EXPECT_EQ(mon.model_b, 1);
    EXPECT_EQ(query_info(reply), 0);
    EXPECT_STREQ(reply, "VER,Firmware 2.07");
    int32_t level = 0;
    EXPECT_EQ(query_level(&level), 0);
    EXPECT_EQ(level, 640);
    EXPECT_EQ(query_tuning(reply), 0);
    EXPECT_STREQ(reply, " 100 1462500");
    EXPECT_EQ(query_signal(reply), 0);
    EXPECT_STREQ(reply, "SIG,300");
}

TEST_F(WithSim, AtAnotherRateTheExchangeTimesOutAfter500ms) {
    start({"--baud", "9600"});
    open_at_baud(19200);
    int64_t begin = ms_now();
    EXPECT_EQ(query_model(reply), 1);
    int64_t took = ms_now() - begin;
    EXPECT_GE(took, 500);
    EXPECT_LT(took, 700);
    open_at_baud(9600);
    EXPECT_EQ(query_model(reply), 0);
    EXPECT_EQ(mon.model_a, 1);
}

}  // namespace
