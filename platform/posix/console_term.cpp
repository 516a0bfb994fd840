// The terminal under the console emulation.
//
// Map: terminfo loading and the capabilities the console uses; colours and
// code page 437 glyphs; the terminal's state and its give-back on every way
// out (exit hook, SIGTERM, SIGHUP, SIGINT); text held while the full screen
// shows; raw input; SIGWINCH.
//
// tinfo rather than ncurses proper: the console keeps its own cell buffer
// and decides itself what to send, so all it needs from the library is the
// terminal description (capability strings and tparm). ncurses' own screen
// model would be a second buffer fighting the first, and its initscr takes
// over signals and terminal modes that this file must control.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/console_term.h"
#include "platform/posix/handle.h"
#include "platform/posix/held_text.h"

// term.h defines macros named after every capability; none may leak.
#undef columns
#undef lines

namespace posix::term {

namespace {
std::once_flag loaded;
bool ready = false;
Caps capabilities;
std::string cup;                    // cursor_address, for tparm
std::string setaf, setab;           // colours, ANSI order
std::string glyphs[256];

// The give-back needs only these, prepared before any signal can come.
std::atomic<bool> full_screen{false};
std::atomic<bool> cursor_hidden{false};
std::atomic<bool> title_pushed{false};
std::atomic<bool> input_raw{false};
std::atomic<bool> hooks_installed{false};
std::atomic<bool> resized{false};
std::atomic<bool> ended{false};  // given back on the way out: draw no more
struct termios saved_input;
std::string leave_sequence, show_sequence;
const char kTitlePop[] = "\033[23;0t";  // xterm's title stack; others ignore it

std::string why_not_ready;  // set when load() finds no usable terminal

// terminfo's output routine takes no context: each thread pads into its own.
thread_local std::string* padding_target;
int pad_into_target(int c) {
    padding_target->push_back(static_cast<char>(c));
    return c;
}

// Capabilities carry padding marks ($<5>): only terminfo's own output routine
// knows whether this terminal needs the delay characters or none at all.
std::string padded(const char* capability) {
    std::string out;
    padding_target = &out;
    tputs(capability, 1, pad_into_target);
    return out;
}

std::string raw_cap(const char* name) {
    char* s = tigetstr(const_cast<char*>(name));
    if (s == nullptr || s == reinterpret_cast<char*>(-1)) return std::string();
    return s;
}
std::string str_cap(const char* name) { return padded(raw_cap(name).c_str()); }

bool locale_is_utf8() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = getenv(name);
        if (v == nullptr || *v == 0) continue;
        std::string s(v);
        for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return s.find("utf-8") != std::string::npos || s.find("utf8") != std::string::npos;
    }
    return false;
}

// Code page 437 from 128 on; below 32 its pictures are not drawn by rxmon
// and stand as blanks.
const uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

std::string utf8_of(uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

void build_glyphs(bool utf8) {
    for (int c = 0; c < 256; ++c) {
        if (c >= 32 && c < 127) glyphs[c] = std::string(1, static_cast<char>(c));
        else if (c < 32) glyphs[c] = " ";
        else if (utf8 && c >= 128) glyphs[c] = utf8_of(kCp437High[c - 128]);
        else glyphs[c] = "?";
    }
    // The bars' blocks, the history's shades and dot and the peak's mark in
    // plain ASCII where the terminal cannot show them.
    if (!utf8) {
        glyphs[219] = "#";
        glyphs[221] = "[";
        glyphs[222] = "]";
        glyphs[176] = ".";
        glyphs[177] = ":";
        glyphs[178] = "*";
        glyphs[179] = "|";
        glyphs[250] = "-";
    }
}

void load() {
    if (!isatty(1)) {
        why_not_ready = "standard output is not a terminal.";
        return;
    }
    const char* kind = getenv("TERM");
    if (kind == nullptr || *kind == 0) {
        why_not_ready = "TERM is not set, so the kind of terminal is unknown.";
        return;
    }
    std::string term = std::string("TERM=") + kind;
    int err = 0;
    if (setupterm(nullptr, 1, &err) != 0) {  // 0 is OK, without curses.h
        why_not_ready = term + (err == 1 ? " is a printing terminal." : " is not in the terminfo database.");
        return;
    }
    // Capabilities with parameters are padded once tparm has filled them in.
    cup = raw_cap("cup");
    if (cup.empty()) {
        why_not_ready = term + " cannot move the cursor.";
        return;
    }
    Caps& c = capabilities;
    c.enter_screen = str_cap("smcup");
    c.leave_screen = str_cap("rmcup");
    c.clear = str_cap("clear");
    c.reset_attributes = str_cap("sgr0");
    c.bold = str_cap("bold");
    c.hide_cursor = str_cap("civis");
    c.show_cursor = str_cap("cnorm");
    c.bell_text = str_cap("bel");
    setaf = raw_cap("setaf");
    setab = raw_cap("setab");
    c.colours = setaf.empty() ? 0 : tigetnum(const_cast<char*>("colors"));
    if (c.colours < 0) c.colours = 0;
    // A status line, where the terminal has one, is where its title goes.
    // xterm and its kin have none in terminfo, yet take the title by OSC 2.
    if (tigetflag(const_cast<char*>("hs")) > 0 && !str_cap("tsl").empty()) {
        c.title_start = str_cap("tsl");
        c.title_end = str_cap("fsl");
    } else {
        c.title_start = "\033]2;";
        c.title_end = "\007";
    }
    c.utf8 = locale_is_utf8();
    build_glyphs(c.utf8);
    leave_sequence = c.reset_attributes + c.leave_screen;
    show_sequence = c.show_cursor;
    ready = true;
}

void on_signal(int sig) {
    int saved_errno = errno;
    run_exit_hooks();
    signal(sig, SIG_DFL);
    raise(sig);
    errno = saved_errno;
}

void on_resize(int) { resized.store(true); }

void install_hooks() {
    if (hooks_installed.exchange(true)) return;
    at_exit(give_back);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction old;
        // A signal that the user's shell ignores (nohup) stays ignored.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &sa, nullptr);
    }
}
}  // namespace

bool output_ready() {
    std::call_once(loaded, load);
    return ready;
}

const std::string& output_refusal() { return why_not_ready; }

bool input_ready() { return isatty(0) != 0; }

const Caps& caps() { return capabilities; }

std::string move_to(int row, int column) { return padded(tiparm(cup.c_str(), row, column)); }

// Console colours are blue 1, green 2, red 4; ANSI ones red 1, green 2, blue 4.
static int ansi(int console_colour) {
    return ((console_colour & 1) << 2) | (console_colour & 2) | ((console_colour & 4) >> 2);
}

std::string colour_change(WORD from, WORD to) {
    const Caps& c = capabilities;
    int fg = to & 0x0F, bg = (to >> 4) & 0x0F;
    std::string s;
    if (c.colours >= 16) {
        if (from == 0xFFFF || (from & 0x0F) != fg) s += padded(tiparm(setaf.c_str(), ansi(fg) + (fg & 8)));
        if (from == 0xFFFF || ((from >> 4) & 0x0F) != bg) s += padded(tiparm(setab.c_str(), ansi(bg) + (bg & 8)));
        return s;
    }
    // Eight colours: the bright foregrounds are bold, and a bright
    // background shows as its dark form. Bold is only undone by a reset.
    s = c.reset_attributes;
    if (fg & 8) s += c.bold;
    if (c.colours >= 8) {
        s += padded(tiparm(setaf.c_str(), ansi(fg & 7)));
        s += padded(tiparm(setab.c_str(), ansi(bg & 7)));
    }
    return s;
}

const std::string& glyph(unsigned char c) { return glyphs[c]; }

uint32_t cp437_high(unsigned char c) { return c >= 128 ? kCp437High[c - 128] : c; }

// Once an exit path has given the terminal back, another thread (the blink
// thread) may still draw until the process is gone; it must not draw on the
// user's screen.
void put(const std::string& bytes) {
    if (!ended.load()) write_all(1, bytes.data(), bytes.size());
}

void set_full_screen(bool on) {
    install_hooks();
    full_screen.store(on);
    if (!on) held_write_out(1);
}

void set_cursor_hidden(bool hidden) {
    install_hooks();
    cursor_hidden.store(hidden);
}

void set_title_pushed() {
    install_hooks();
    title_pushed.store(true);
}

void set_raw_input(bool raw, bool signal_keys) {
    if (!input_ready()) return;
    if (raw && !input_raw.load()) {
        install_hooks();
        if (tcgetattr(0, &saved_input) != 0) return;
        input_raw.store(true);
    }
    if (!input_raw.load()) return;
    struct termios t = saved_input;
    if (raw) {
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN | ISIG);
        // Ctrl+C is the one signal key, as on Windows; the terminal must not
        // be suspended or quit behind the program's back.
        if (signal_keys) {
            t.c_lflag |= ISIG;
            t.c_cc[VQUIT] = _POSIX_VDISABLE;
            t.c_cc[VSUSP] = _POSIX_VDISABLE;
        }
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
    }
    tcsetattr(0, TCSANOW, &t);
    if (!raw) input_raw.store(false);
}

bool hold_output(int fd, const void* data, size_t count, size_t* kept) {
    if (!full_screen.load() || (fd != 1 && fd != 2) || !isatty(fd)) return false;
    struct stat a, b;
    if (fstat(fd, &a) != 0 || fstat(1, &b) != 0 || a.st_rdev != b.st_rdev) return false;
    *kept = held_keep(data, count);
    return true;
}

void give_back() {
    ended.store(true);
    if (full_screen.exchange(false)) write_all(1, leave_sequence.data(), leave_sequence.size());
    if (cursor_hidden.exchange(false)) write_all(1, show_sequence.data(), show_sequence.size());
    if (title_pushed.exchange(false)) write_all(1, kTitlePop, sizeof kTitlePop - 1);
    if (input_raw.exchange(false)) tcsetattr(0, TCSANOW, &saved_input);
    held_write_out(1);
}

bool take_resize() {
    static std::once_flag winch;
    std::call_once(winch, [] {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = on_resize;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGWINCH, &sa, nullptr);
    });
    return resized.exchange(false);
}

void terminal_size(int* rows, int* columns) {
    struct winsize ws;
    if (ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
        *rows = ws.ws_row;
        *columns = ws.ws_col;
    } else {
        *rows = tigetnum(const_cast<char*>("lines")) > 0 ? tigetnum(const_cast<char*>("lines")) : 24;
        *columns = tigetnum(const_cast<char*>("cols")) > 0 ? tigetnum(const_cast<char*>("cols")) : 80;
    }
}

}  // namespace posix::term
