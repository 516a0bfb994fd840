// How long one scanner exchange takes against rxmon-sim, which paces its
// replies as a real wire would, at each of the five rates, beside the time
// the same bytes need on the wire (10 bits a byte ÷ rate). Not a test: it
// prints a table. With "ser2net" it times 115200 baud twice: on the
// pseudo-terminal directly, and through ser2net's RFC 2217 listener on it.
//
//   serial_exchange [SECONDS_PER_RATE] [ser2net]   (default 2; RXMON_SIM names the simulator)
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
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

// ser2net serving `device` on a free loopback port: its pid and the URL.
pid_t start_ser2net(const std::string& device, const std::string& config, std::string* url) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    close(fd);
    int port = ntohs(a.sin_port);
    std::ofstream(config) << "connection: &line\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
                          << "\n  connector: serialdev," << device << ",9600n81,local\n";
    // Its pid file goes at exit: it must be a file of its own.
    pid_t pid = bench::spawn_quiet({"/usr/sbin/ser2net", "-n", "-u", "-c", config, "-P", config + ".pid"});
    char listening[32];
    snprintf(listening, sizeof listening, ":%04X 00000000:0000 0A", port);
    for (int i = 0; i < 200; ++i) {
        std::ifstream tcp("/proc/net/tcp");
        std::string all((std::istreambuf_iterator<char>(tcp)), std::istreambuf_iterator<char>());
        if (all.find(listening) != std::string::npos) break;
        usleep(10'000);
    }
    *url = "rfc2217://127.0.0.1:" + std::to_string(port);
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 2.0;
    if (seconds <= 0) seconds = 2.0;
    bool ser2net = argc > 2 && std::string(argv[2]) == "ser2net";
    std::string config = "/tmp/rxmon-bench-" + std::to_string(getpid()) + ".yaml";
    std::string path_file = "/tmp/rxmon-bench-" + std::to_string(getpid()) + ".path";
    // "SIG" CR out, "SIG,512" CR back: 12 bytes of 10 bits each.
    const int wire_bits = 12 * 10;
    printf("signal exchanges against rxmon-sim, no reply delay, %.1f s a rate\n", seconds);
    printf("%8s %8s %12s %12s %12s %12s %8s\n", "baud", "path", "exchanges/s", "mean ms", "wire ms", "ratio",
           "failed");
    std::vector<std::pair<int, bool>> runs = {{115200, false}, {57600, false}, {38400, false}, {19200, false},
                                              {9600, false}};
    if (ser2net) runs = {{115200, false}, {115200, true}};
    for (auto [baud, through_ser2net] : runs) {
        std::string slave;
        pid_t sim = start_sim(baud, path_file, &slave);
        if (sim == 0 || slave.empty()) {
            fprintf(stderr, "cannot start %s\n", sim_program().c_str());
            return 1;
        }
        std::string port = slave;
        pid_t server = through_ser2net ? start_ser2net(slave, config, &port) : 0;
        setenv("RXMON_COM2", port.c_str(), 1);
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
        if (server) stop(server);
        stop(sim);
        double mean_ms = took / 1000.0 / count;
        double wire_ms = wire_bits * 1000.0 / baud;
        printf("%8d %8s %12.1f %12.3f %12.3f %12.2f %8d\n", baud, through_ser2net ? "ser2net" : "pty",
               count / (took / 1e6), mean_ms, wire_ms, mean_ms / wire_ms, failed);
    }
    unlink(path_file.c_str());
    unlink(config.c_str());
    return 0;
}
