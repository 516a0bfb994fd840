// How long one scanner exchange takes against rxmon-sim, which paces its
// replies as a real wire would, at each of the five rates, beside the time
// the same bytes need on the wire (10 bits a byte ÷ rate). Not a test: it
// prints a table.
//
//   serial_exchange [SECONDS_PER_RATE]   (default 2; RXMON_SIM names the simulator)
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/scanner.h"
#include "bench/spawn.h"
#include "app/state.h"
#include "serial/clock.h"
#include "serial/port.h"

namespace {

std::string sim_program() { return bench::beside_me("RXMON_SIM", "../sim/rxmon-sim"); }

pid_t start_sim(int baud, const std::string& path_file, std::string* slave) {
    unlink(path_file.c_str());
    pid_t pid = bench::spawn_quiet(
        {sim_program(), "--baud", std::to_string(baud), "--signal", "fixed:512", "--path-file", path_file});
    if (pid == 0) return 0;
    for (int i = 0; i < 200 && slave->empty(); ++i) {
        std::ifstream(path_file) >> *slave;
        if (slave->empty()) usleep(10'000);
    }
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 2.0;
    if (seconds <= 0) seconds = 2.0;
    std::string path_file = "/tmp/rxmon-bench-" + std::to_string(getpid()) + ".path";
    // "SIG" CR out, "SIG,512" CR back: 12 bytes of 10 bits each.
    const int wire_bits = 12 * 10;
    printf("signal exchanges against rxmon-sim, no reply delay, %.1f s a rate\n", seconds);
    printf("%8s %12s %12s %12s %12s %8s\n", "baud", "exchanges/s", "mean ms", "wire ms", "ratio", "failed");
    for (int baud : {115200, 57600, 38400, 19200, 9600}) {
        std::string slave;
        pid_t sim = start_sim(baud, path_file, &slave);
        if (sim == 0 || slave.empty()) {
            fprintf(stderr, "cannot start %s\n", sim_program().c_str());
            return 1;
        }
        setenv("RXMON_COM2", slave.c_str(), 1);
        mon.port_number = 2;
        open_at_baud(baud);
        char reply[256];
        query_signal(reply);  // the first exchange settles the line
        int64_t begin = us_now(), end = begin + static_cast<int64_t>(seconds * 1e6);
        int count = 0, failed = 0;
        while (us_now() < end) {
            if (query_signal(reply)) ++failed;
            ++count;
        }
        int64_t took = us_now() - begin;
        port_close(2);
        kill(sim, SIGTERM);
        int status;
        waitpid(sim, &status, 0);
        double mean_ms = took / 1000.0 / count;
        double wire_ms = wire_bits * 1000.0 / baud;
        printf("%8d %12.1f %12.3f %12.3f %12.2f %8d\n", baud, count / (took / 1e6), mean_ms, wire_ms, mean_ms / wire_ms,
               failed);
    }
    unlink(path_file.c_str());
    return 0;
}
