// rxmon-sim's line: the pseudo-terminal (or device) it serves, the other
// side's rate read from the master, replies paced at the line's own speed,
// the log, and a clean stop on SIGINT and SIGTERM.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "sim.h"

namespace {

volatile sig_atomic_t stop_signal = 0;
void on_stop(int sig) { stop_signal = sig; }

timespec start_time;
FILE* log_out = nullptr;

struct RateCode {
    int baud;
    speed_t code;
};
const RateCode kRates[] = {{9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

speed_t code_of(int baud) {
    for (auto r : kRates)
        if (r.baud == baud) return r.code;
    return B9600;
}

// The rate the line is set to. Over a pseudo-terminal the master sees the
// termios that the slave's user set; 0 when it names none of the five.
int line_rate(int fd) {
    termios t;
    if (tcgetattr(fd, &t) != 0) return 0;
    speed_t s = cfgetospeed(&t);
    for (auto r : kRates)
        if (r.code == s) return r.baud;
    return 0;
}

bool set_line(int fd, int baud) {
    termios t;
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, code_of(baud));
    cfsetospeed(&t, code_of(baud));
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

void add_ns(timespec* t, long long ns) {
    ns += t->tv_nsec;
    t->tv_sec += static_cast<time_t>(ns / 1'000'000'000);
    t->tv_nsec = static_cast<long>(ns % 1'000'000'000);
}

// Sleeps until an absolute time; false when a stop signal came first.
bool sleep_until(const timespec& when) {
    while (!stop_signal) {
        int r = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr);
        if (r == 0) return true;
        if (r != EINTR) return true;
    }
    return false;
}

// One byte every 10 bit times against an absolute schedule, so that the
// sleeps' own lateness does not add up over a reply. A byte is handed over
// when its stop bit would have ended, as a receiving UART hands it on.
bool send_paced(int fd, const std::string& bytes, int baud, timespec slot) {
    const long long byte_ns = 10'000'000'000LL / baud;
    for (char c : bytes) {
        add_ns(&slot, byte_ns);
        if (!sleep_until(slot)) return false;
        for (;;) {
            ssize_t n = write(fd, &c, 1);
            if (n == 1) break;
            if (n < 0 && errno == EINTR && !stop_signal) continue;
            if (n < 0 && errno == EAGAIN) {
                pollfd p = {fd, POLLOUT, 0};
                poll(&p, 1, 100);
                if (stop_signal) return false;
                continue;
            }
            return false;
        }
    }
    return true;
}

timespec now_mono() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

std::string visible(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c < 32 || c >= 127) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string slave_path, written_path_file, made_link;

void clean_up() {
    if (!written_path_file.empty()) unlink(written_path_file.c_str());
    if (!made_link.empty()) unlink(made_link.c_str());
}

[[noreturn]] void fail(const char* what, const char* detail) {
    fprintf(stderr, "rxmon-sim: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    clean_up();
    exit(1);
}

// Writes the five replies over and over for as long as the line takes them,
// never pacing them; what arrives is read and dropped.
void flood(int fd, SimScanner& scanner) {
    std::string stream, reply;
    for (const char* command : {"IDN", "VER", "LVL", "TUN", "SIG"})
        if (scanner.answer(command, 0, &reply)) stream += reply;
    size_t at = 0;
    while (!stop_signal) {
        pollfd p = {fd, POLLIN | POLLOUT, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[256];
        if (p.revents & POLLIN) (void)!read(fd, buf, sizeof buf);
        if (p.revents & POLLOUT) {
            ssize_t n = write(fd, stream.data() + at, stream.size() - at);
            if (n > 0) at = (at + static_cast<size_t>(n)) % stream.size();
        }
    }
}

}  // namespace

double sim_seconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec - start_time.tv_sec) + double(now.tv_nsec - start_time.tv_nsec) / 1e9;
}

void sim_log_open(const SimOptions& o) {
    if (!o.log_file.empty()) {
        log_out = fopen(o.log_file.c_str(), "w");
        if (log_out == nullptr) fail("cannot write the log", o.log_file.c_str());
        setvbuf(log_out, nullptr, _IOLBF, 0);
    } else if (o.log) {
        log_out = stderr;
    }
}

void sim_log(const char* direction, const std::string& bytes, const char* note) {
    if (log_out == nullptr) return;
    std::string shown = visible(bytes);
    if (note) shown += shown.empty() ? note : std::string("  ") + note;
    fprintf(log_out, "%10.3f %s %s\n", sim_seconds(), direction, shown.c_str());
}

int main(int argc, char** argv) {
    clock_gettime(CLOCK_MONOTONIC, &start_time);
    SimOptions opt = sim_parse(argc, argv);
    SimScanner scanner(opt);

    struct sigaction sa = {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);  // no SA_RESTART: poll and sleeps return at once
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    bool pty = opt.device.empty();
    int fd, keep_slave = -1;
    if (pty) {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) fail("cannot create a pseudo-terminal", strerror(errno));
        slave_path = ptsname(fd);
        // Holding the slave open ourselves keeps the master usable while the
        // monitor closes and reopens the port between rates.
        keep_slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (keep_slave < 0 || !set_line(keep_slave, opt.baud)) fail("cannot set up the pseudo-terminal", strerror(errno));
    } else {
        fd = open(opt.device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) fail("cannot open the device", strerror(errno));
        if (!isatty(fd) || !set_line(fd, opt.baud)) fail("not a serial device", opt.device.c_str());
        slave_path = opt.device;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    if (!opt.path_file.empty()) {
        FILE* f = fopen(opt.path_file.c_str(), "w");
        if (f == nullptr) fail("cannot write the path file", opt.path_file.c_str());
        fprintf(f, "%s\n", slave_path.c_str());
        fclose(f);
        written_path_file = opt.path_file;
    }
    if (!opt.link.empty()) {
        unlink(opt.link.c_str());
        if (symlink(slave_path.c_str(), opt.link.c_str()) != 0) fail("cannot make the link", opt.link.c_str());
        made_link = opt.link;
    }
    sim_log_open(opt);
    printf("%s\n", slave_path.c_str());
    fflush(stdout);
    fprintf(stderr, "rxmon-sim: model %c at %d baud on %s\n", opt.model, opt.baud, slave_path.c_str());

    std::string command;
    int own_rate = opt.baud;
    // When the last byte heard would have finished arriving on a real wire:
    // a pseudo-terminal delivers a command at once, a wire takes 10 bit
    // times a byte, and the reply cannot start before the command has ended.
    timespec heard_until = now_mono();
    bool was_silent = false;
    if (opt.flood) flood(fd, scanner);
    while (!stop_signal) {
        double now = sim_seconds();
        if (opt.unplug_after >= 0 && now >= opt.unplug_after) {
            // Pulled out: the line is gone for the other side too (a pseudo-
            // terminal's slave path vanishes with its master).
            sim_log("==", "", "unplugged");
            if (keep_slave >= 0) close(keep_slave);
            close(fd);
            clean_up();
            fprintf(stderr, "rxmon-sim: unplugged\n");
            if (log_out && log_out != stderr) fclose(log_out);
            return 0;
        }
        scanner.tick(now);
        int rate = scanner.rate(now);
        if (rate != own_rate) {
            own_rate = rate;
            if (!pty) set_line(fd, own_rate);
            sim_log("==", "", ("now at " + std::to_string(own_rate) + " baud").c_str());
        }
        bool silent = scanner.silent(now);
        if (silent != was_silent) sim_log("==", "", silent ? "silent" : "answering again");
        was_silent = silent;

        pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, opt.random_faults_mean > 0 || opt.unplug_after >= 0 ? 20 : 100);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) fail("poll", strerror(errno));
        if (r == 0) continue;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            // Our own slave handle keeps a pseudo-terminal from hanging up;
            // a device that does has gone away.
            if (pty) continue;
            fail("the device went away", opt.device.c_str());
        }
        std::string bytes(buf, static_cast<size_t>(n));
        // Bytes sent at another rate would arrive as garbage on a real line:
        // the scanner hears nothing it could answer.
        int heard_at = pty ? line_rate(fd) : own_rate;
        if (heard_at != own_rate) {
            sim_log("<-", bytes, ("ignored: the line is at " + std::to_string(heard_at) + " baud").c_str());
            command.clear();
            continue;
        }
        if (silent) {
            sim_log("<-", bytes, "ignored: silent");
            command.clear();
            continue;
        }
        sim_log("<-", bytes);
        const long long byte_ns = 10'000'000'000LL / own_rate;
        timespec arrived = now_mono();
        if (before(heard_until, arrived)) heard_until = arrived;
        for (char c : bytes) {
            add_ns(&heard_until, byte_ns);
            if (c == '\n') continue;
            if (c != '\r') {
                if (command.size() < 256) command += c;
                continue;
            }
            std::string reply;
            if (scanner.answer(command, sim_seconds(), &reply)) {
                if (pty && line_rate(fd) != own_rate) {
                    sim_log("->", reply, "not sent: the line changed rate");
                } else {
                    sim_log("->", reply);
                    timespec start = heard_until;
                    add_ns(&start, opt.delay_ms * 1'000'000LL);
                    if (!send_paced(fd, reply, own_rate, start)) break;
                    heard_until = now_mono();
                }
            } else if (!command.empty()) {
                sim_log("--", command, "unanswered");
            }
            command.clear();
        }
    }
    if (keep_slave >= 0) close(keep_slave);
    close(fd);
    clean_up();
    if (log_out && log_out != stderr) fclose(log_out);
    fprintf(stderr, "rxmon-sim: stopped\n");
    return 0;
}
