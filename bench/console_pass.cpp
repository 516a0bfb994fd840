// The monitor's steady redraw through rxmon's screen and through plain
// ncurses: the panels of a pass are drawn as the polling cycle draws them,
// for a signal that sweeps as rxmon-sim's default course does, and each
// resulting 20 × 40 frame is then drawn again through ncurses. Prints the bytes each sends to the terminal per pass, and
// rxmon's console calls and drawing time per pass.
//
// The terminal is a pseudo-terminal of the benchmark's own (80 × 25, TERM
// from the environment or xterm-256color, a UTF-8 locale); a thread drains
// and counts what reaches it. Usage: console_pass [passes, default 2000]
#define NCURSES_WIDECHAR 1
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <curses.h>
#include <pty.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/terminal_sink.h"
#include "app/monitor.h"
#include "console/screen.h"
#include "platform/posix/console_term.h"
#include "runtime/fmt.h"

namespace {

using bench::drain;
using bench::received;
using bench::settled;

struct Frame {
    std::vector<char> chars;
    std::vector<uint16_t> attrs;
};

// One steady pass, drawn with the calls and texts of the polling cycle.
void draw_pass(int pass) {
    int32_t signal = pass * 8 % 2046;
    if (signal > 1023) signal = 2046 - signal;
    show_status(115200);
    scr_print(T("Model: "), 0x1B, 5, 2);
    scr_print(T("SR-B20"), 0x1A, 5, 9);
    scr_printf(5, 15, 0x1E, T("  firmware %s            "), T("2.07"));
    draw_level_panel(392);
    set_title(T("146.2500"));
    scr_print(T("Frequency: "), 0x1B, 9, 2);
    scr_printf(9, 13, 0x1A, T("%.4i MHz "), 1462500);
    draw_tuning_panel(100, 1462500);
    scr_print(T("Up/Dn vol  M mute  Esc quit "), 0x17, 20, 4);
    mon.signal_index = signal;
    scr_print(T("Sig: "), 0x1B, 15, 2);
    scr_printf(15, 7, 0x1A, T("%4i/1023 "), signal);
    draw_signal_bar(signal);
}

// Console colours (blue 1, green 2, red 4) in curses' order (red 1, blue 4).
short curses_colour(int c) {
    static const short map[8] = {COLOR_BLACK, COLOR_BLUE, COLOR_GREEN, COLOR_CYAN,
                                 COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};
    return static_cast<short>(map[c & 7] + (c & 8 ? 8 : 0));
}

}  // namespace

int main(int argc, char** argv) {
    int passes = argc > 1 ? atoi(argv[1]) : 2000;
    if (getenv("TERM") == nullptr) setenv("TERM", "xterm-256color", 1);
    setenv("LANG", "C.UTF-8", 1);
    setlocale(LC_ALL, "");

    int master, slave;
    struct winsize ws = {25, 80, 0, 0};
    if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0) {
        perror("openpty");
        return 1;
    }
    FILE* report = fdopen(dup(1), "w");
    dup2(slave, 1);
    std::thread(drain, master).detach();

    // rxmon: the screen as start-up leaves it, a first pass, then the steady ones.
    build_pitch_table();
    mon.port_number = 1;
    mon.model_a = 0;
    mon.model_b = 1;
    mon.sound_choice = 1;
    scr_open(0, 20, 40);
    scr_clear(0x10);
    scr_cursor(0);
    scr_print(T("rxmon scanner view"), 0x19, 1, 12);
    scr_print(T("Keys: ESC quits  "), 0x17, 19, 4);
    draw_pass(0);
    int64_t bytes0 = settled();
    int64_t calls0 = posix::term::console_write_calls.load();
    std::vector<Frame> frames;
    auto t0 = std::chrono::steady_clock::now();
    for (int p = 1; p <= passes; ++p) {
        draw_pass(p);
        frames.push_back({std::vector<char>(scr_chars, scr_chars + 800),
                          std::vector<uint16_t>(scr_attrs, scr_attrs + 800)});
    }
    auto t1 = std::chrono::steady_clock::now();
    double rxmon_us = std::chrono::duration<double, std::micro>(t1 - t0).count() / passes;
    double rxmon_calls = double(posix::term::console_write_calls.load() - calls0) / passes;
    double rxmon_bytes = double(settled() - bytes0) / passes;
    scr_restore();
    settled();

    // ncurses: the same frames, each drawn whole and refreshed.
    FILE* term_out = fdopen(dup(slave), "w");
    FILE* term_in = fdopen(dup(slave), "r");
    SCREEN* screen = newterm(nullptr, term_out, term_in);
    set_term(screen);
    start_color();
    curs_set(0);
    short pairs[256] = {};
    short next_pair = 1;
    auto draw_frame = [&](const Frame& f) {
        for (int cell = 0; cell < 800; ++cell) {
            int attr = f.attrs[static_cast<size_t>(cell)] & 0xFF;
            if (pairs[attr] == 0) {
                init_pair(next_pair, curses_colour(attr & 0x0F), curses_colour(attr >> 4));
                pairs[attr] = next_pair++;
            }
            wchar_t wc[2] = {static_cast<wchar_t>(posix::term::cp437_high(static_cast<unsigned char>(f.chars[static_cast<size_t>(cell)]))), 0};
            cchar_t cc;
            setcchar(&cc, wc, COLORS < 16 && (attr & 8) ? A_BOLD : A_NORMAL, pairs[attr], nullptr);
            mvadd_wch(cell / 40, cell % 40, &cc);
        }
        refresh();
    };
    draw_frame(frames.front());
    int64_t curses0 = settled();
    for (const Frame& f : frames) draw_frame(f);
    double curses_bytes = double(settled() - curses0) / passes;
    endwin();
    settled();

    fprintf(report, "TERM=%s, %d steady passes: rxmon %.1f bytes, %.2f console calls, %.1f us a pass; "
                    "ncurses %.1f bytes a pass for the same frames\n",
            getenv("TERM"), passes, rxmon_bytes, rxmon_calls, rxmon_us, curses_bytes);
    fflush(report);
    _exit(0);
}
