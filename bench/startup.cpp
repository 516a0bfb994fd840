// Start-up time of the monitor as a user sees it: from the start of the
// process to its first drawn screen (the screen title on the terminal),
// and on to the first pass drawn for a scanner that answers at the first
// rate tried. rxmon runs on a pseudo-terminal of the benchmark's own (80 ×
// 25), against rxmon-sim at 115200 baud.
//
//   startup [RUNS, default 10] [SOUND CHOICE, default 0]   (RXMON and RXMON_SIM name the programs)
#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/spawn.h"

namespace {

using Clock = std::chrono::steady_clock;

using bench::beside_me;
using bench::spawn_quiet;

double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? atoi(argv[1]) : 10;
    std::string sound = argc > 2 ? argv[2] : "0";
    std::string rxmon = beside_me("RXMON", "../rxmon"), sim = beside_me("RXMON_SIM", "../sim/rxmon-sim");
    std::string path_file = "/tmp/rxmon-startup-" + std::to_string(getpid()) + ".path";
    unlink(path_file.c_str());
    pid_t sim_pid = spawn_quiet({sim, "--baud", "115200", "--model", "B", "--path-file", path_file});
    std::string slave;
    for (int i = 0; i < 200 && slave.empty(); ++i) {
        std::ifstream(path_file) >> slave;
        if (slave.empty()) usleep(10'000);
    }
    if (sim_pid == 0 || slave.empty()) {
        fprintf(stderr, "startup: cannot start %s\n", sim.c_str());
        return 1;
    }
    setenv("RXMON_COM1", slave.c_str(), 1);
    if (!getenv("TERM")) setenv("TERM", "xterm-256color", 1);

    std::vector<double> drawn, found;
    for (int r = 0; r < runs; ++r) {
        int master;
        struct winsize ws = {25, 80, 0, 0};
        auto start = Clock::now();
        pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
        if (pid == 0) {
            execl(rxmon.c_str(), rxmon.c_str(), "1", sound.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::string seen;
        double first = -1, answered = -1;
        while (answered < 0 && ms_between(start, Clock::now()) < 10000) {
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[4096];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            seen.append(buf, static_cast<size_t>(n));
            if (first < 0 && seen.find("rxmon scanner view") != std::string::npos) first = ms_between(start, Clock::now());
            if (seen.find("baud, scanner answers") != std::string::npos) answered = ms_between(start, Clock::now());
        }
        kill(pid, SIGTERM);
        int status;
        waitpid(pid, &status, 0);
        close(master);
        if (first < 0 || answered < 0) {
            fprintf(stderr, "startup: run %d saw no %s\n", r, first < 0 ? "screen" : "scanner");
            continue;
        }
        drawn.push_back(first);
        found.push_back(answered);
    }
    kill(sim_pid, SIGTERM);
    waitpid(sim_pid, nullptr, 0);
    printf("start-up, median of %zu runs (sound choice %s): first screen %.1f ms, first pass drawn %.1f ms\n",
           drawn.size(), sound.c_str(), median(drawn), median(found));
    return drawn.empty() ? 1 : 0;
}
