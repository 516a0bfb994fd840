// How much a full 20 × 40 redraw costs when a share of its cells changed:
// console calls and bytes sent to the terminal per redraw through rxmon's
// screen, and the bytes plain ncurses sends for the same frames.
//
// The terminal is a pseudo-terminal of the benchmark's own (80 × 24, TERM
// from the environment or xterm-256color); a thread drains and counts what
// reaches it. Usage: console_redraw [redraws per share]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <curses.h>
#include <pty.h>
#include <random>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#include "bench/terminal_sink.h"
#include "console/screen.h"
#include "platform/posix/console_term.h"

namespace {

using bench::drain;
using bench::received;
using bench::settled;

// The frames: each next one differs from the last in `changes` cells.
struct Frames {
    char rows[20][41];
    std::mt19937 random{12345};
    Frames() {
        for (auto& row : rows) {
            for (int c = 0; c < 40; ++c) row[c] = static_cast<char>('a' + c % 26);
            row[40] = 0;
        }
    }
    void next(int changes) {
        for (int i = 0; i < changes; ++i) {
            char& cell = rows[random() % 20][random() % 40];
            cell = static_cast<char>(cell == 'z' ? 'a' : cell + 1);
        }
    }
};

const int kShares[] = {0, 1, 5, 25, 50, 100};

}  // namespace

int main(int argc, char** argv) {
    int redraws = argc > 1 ? atoi(argv[1]) : 2000;
    if (getenv("TERM") == nullptr) setenv("TERM", "xterm-256color", 1);
    if (getenv("LANG") == nullptr) setenv("LANG", "C.UTF-8", 1);

    int master, slave;
    struct winsize ws = {24, 80, 0, 0};
    if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0) {
        perror("openpty");
        return 1;
    }
    FILE* report = fdopen(dup(1), "w");
    dup2(slave, 1);
    std::thread reader(drain, master);

    fprintf(report, "TERM=%s, %d redraws of 20 rows x 40 columns per share\n", getenv("TERM"), redraws);
    fprintf(report, "%-8s %14s %14s %12s %14s\n", "changed", "rxmon calls", "rxmon bytes", "rxmon us", "ncurses bytes");

    double rxmon_calls[6], rxmon_bytes[6], rxmon_us[6], curses_bytes[6];

    scr_open(0, 20, 40);
    for (int s = 0; s < 6; ++s) {
        Frames frames;
        for (int r = 0; r < 20; ++r) scr_print(frames.rows[r], 0x1E, r + 1, 1);
        int64_t bytes0 = settled();
        int64_t calls0 = posix::term::console_write_calls.load();
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < redraws; ++i) {
            frames.next(kShares[s] * 800 / 100);
            for (int r = 0; r < 20; ++r) scr_print(frames.rows[r], 0x1E, r + 1, 1);
        }
        auto t1 = std::chrono::steady_clock::now();
        rxmon_calls[s] = double(posix::term::console_write_calls.load() - calls0) / redraws;
        rxmon_bytes[s] = double(settled() - bytes0) / redraws;
        rxmon_us[s] = std::chrono::duration<double, std::micro>(t1 - t0).count() / redraws;
    }
    scr_restore();
    settled();

    FILE* term_out = fdopen(dup(slave), "w");
    FILE* term_in = fdopen(dup(slave), "r");
    SCREEN* screen = newterm(nullptr, term_out, term_in);
    set_term(screen);
    start_color();
    init_pair(1, COLORS >= 16 ? 11 : COLOR_YELLOW, COLOR_BLUE);
    curs_set(0);
    for (int s = 0; s < 6; ++s) {
        Frames frames;
        for (int r = 0; r < 20; ++r) mvaddnstr(r, 0, frames.rows[r], 40);
        attron(COLOR_PAIR(1));
        refresh();
        int64_t bytes0 = settled();
        for (int i = 0; i < redraws; ++i) {
            frames.next(kShares[s] * 800 / 100);
            for (int r = 0; r < 20; ++r) mvaddnstr(r, 0, frames.rows[r], 40);
            refresh();
        }
        curses_bytes[s] = double(settled() - bytes0) / redraws;
    }
    endwin();
    settled();

    for (int s = 0; s < 6; ++s)
        fprintf(report, "%6d %% %14.2f %14.1f %12.2f %14.1f\n", kShares[s], rxmon_calls[s], rxmon_bytes[s], rxmon_us[s],
                curses_bytes[s]);
    fflush(report);
    // The reader is still blocked on the terminal; nothing is left to do.
    _exit(0);
}
