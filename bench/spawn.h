// Starting the other programs a benchmark measures against: found beside the
// benchmark in the build tree (or where an environment variable says), and
// run with their output sent to /dev/null.
#pragma once

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

inline std::string beside_me(const char* variable, const std::string& relative) {
    if (const char* p = getenv(variable)) return p;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
    return dir.substr(0, dir.rfind('/')) + "/" + relative;
}

// The process id, or 0 when the program could not be started.
inline pid_t spawn_quiet(std::vector<std::string> args) {
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

}  // namespace bench
