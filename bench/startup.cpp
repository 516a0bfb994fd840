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

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string beside_me(const char* variable, const std::string& relative) {
    if (const char* p = getenv(variable)) return p;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
    return dir.substr(0, dir.rfind('/')) + "/" + relative;
}

pid_t spawn_quiet(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
}

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
