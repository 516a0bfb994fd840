// The terminal console's key decoder, the console calls when standard
// output is no terminal (as under CTest): they fail as on Windows without a
// console, and the screen code neither hangs nor crashes; and the text
// written while the full screen shows, on a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <tuple>
#include <vector>
#include "console/keys.h"
#include "console/screen.h"
#include "platform/posix/console_term.h"
#include "runtime/out.h"

// The blink thread's handle stays open for the rest of the run, as on
// Windows: the thread forgets it as it ends, and nothing closes it.
extern "C" const char* __lsan_default_suppressions() { return "leak:CreateThread\n"; }

namespace {
using posix::term::KeyString;

using Key = std::tuple<int, int, DWORD>;  // scan code, character, control key state

constexpr DWORD kShift = SHIFT_PRESSED, kCtrl = LEFT_CTRL_PRESSED, kAlt = LEFT_ALT_PRESSED, kExt = ENHANCED_KEY;

// The keys of bytes that reach the decoder in these pieces, as reads of a
// terminal may split them; the wait for more ends after the last piece.
std::vector<Key> keys(const std::vector<std::string>& pieces, bool utf8 = true,
                      const std::vector<KeyString>& known = {}) {
    std::vector<INPUT_RECORD> records;
    std::string pending;
    for (size_t i = 0; i < pieces.size(); ++i) {
        pending += pieces[i];
        pending.erase(0, posix::term::decode_keys(reinterpret_cast<const unsigned char*>(pending.data()),
                                                  pending.size(), i + 1 == pieces.size(), known, utf8, &records));
    }
    EXPECT_TRUE(pending.empty());
    std::vector<Key> out;
    for (const INPUT_RECORD& r : records) {
        EXPECT_EQ(r.EventType, KEY_EVENT);
        EXPECT_TRUE(r.Event.KeyEvent.bKeyDown);
        out.emplace_back(r.Event.KeyEvent.wVirtualScanCode, static_cast<uint8_t>(r.Event.KeyEvent.uChar.AsciiChar),
                         r.Event.KeyEvent.dwControlKeyState);
    }
    return out;
}

// Every cut of every sequence must give what the whole gives: the decoder
// waits for the rest of whatever may still become a longer key (found by
// fuzzing it: ESC ESC cut from [A gave Alt+Esc, '[' and 'A').
TEST(KeyDecoder, EachSequenceGivesItsKeysHoweverItIsCut) {
    const struct { std::string bytes; std::vector<Key> want; bool utf8 = true; } cases[] = {
        // Characters with their scan code, and Shift where it takes one; control characters as Ctrl keys.
        {"a", {{30, 'a', 0}}}, {"A", {{30, 'A', kShift}}}, {"!", {{2, '!', kShift}}}, {"/", {{53, '/', 0}}},
        {"~", {{41, '~', kShift}}}, {"|", {{43, '|', kShift}}}, {" ", {{57, ' ', 0}}}, {"\x01", {{30, 1, kCtrl}}},
        {"\x1a", {{44, 26, kCtrl}}}, {std::string(1, '\0'), {{3, 0, kCtrl}}}, {"\r", {{28, 13, 0}}},
        {"\t", {{15, 9, 0}}}, {"\x7f", {{14, 8, 0}}}, {"\x08", {{14, 8, 0}}},
        // ESC alone, or the start of a sequence, once nothing more comes.
        {"\x1b", {{1, 27, 0}}}, {"\x1b[", {{26, '[', kAlt}}},
        // Each key of the CSI and SS3 forms (used where terminfo names none), and xterm's modifier parameters.
        {"\x1b[A", {{72, 0, kExt}}}, {"\x1bOA", {{72, 0, kExt}}}, {"\x1b[B", {{80, 0, kExt}}},
        {"\x1b[D", {{75, 0, kExt}}}, {"\x1bOC", {{77, 0, kExt}}}, {"\x1b[H", {{71, 0, kExt}}},
        {"\x1bOF", {{79, 0, kExt}}}, {"\x1b[1~", {{71, 0, kExt}}}, {"\x1b[4~", {{79, 0, kExt}}},
        {"\x1b[2~", {{82, 0, kExt}}}, {"\x1b[3~", {{83, 0, kExt}}}, {"\x1b[5~", {{73, 0, kExt}}},
        {"\x1b[6~", {{81, 0, kExt}}}, {"\x1bOP", {{59, 0, 0}}}, {"\x1bOQ", {{60, 0, 0}}}, {"\x1bOR", {{61, 0, 0}}},
        {"\x1bOS", {{62, 0, 0}}}, {"\x1b[15~", {{63, 0, 0}}}, {"\x1b[17~", {{64, 0, 0}}},
        {"\x1b[18~", {{65, 0, 0}}}, {"\x1b[19~", {{66, 0, 0}}}, {"\x1b[20~", {{67, 0, 0}}},
        {"\x1b[21~", {{68, 0, 0}}}, {"\x1b[23~", {{87, 0, 0}}}, {"\x1b[24~", {{88, 0, 0}}},
        {"\x1b[11~", {{59, 0, 0}}}, {"\x1b[12~", {{60, 0, 0}}}, {"\x1b[1;2A", {{72, 0, kExt | kShift}}},
        {"\x1b[1;3B", {{80, 0, kExt | kAlt}}}, {"\x1b[1;5C", {{77, 0, kExt | kCtrl}}},
        {"\x1b[1;8D", {{75, 0, kExt | kShift | kAlt | kCtrl}}}, {"\x1b[5;5~", {{73, 0, kExt | kCtrl}}},
        {"\x1b[1;2P", {{59, 0, kShift}}}, {"\x1bO5P", {{59, 0, kCtrl}}}, {"\x1b[24;2~", {{88, 0, kShift}}},
        {"\x1b[15;3~", {{63, 0, kAlt}}}, {"\x1b[Z", {{15, 9, kShift}}}, {"\x1bOM", {{28, 13, 0}}},
        // Alt is an ESC in front.
        {"\x1b" "a", {{30, 'a', kAlt}}}, {"\x1b" "A", {{30, 'A', kAlt | kShift}}}, {"\x1b\x1b", {{1, 27, kAlt}}},
        {"\x1b\x01", {{30, 1, kAlt | kCtrl}}}, {"\x1b\x1b[A", {{72, 0, kExt | kAlt}}},
        {"\x1b\x1bOB", {{80, 0, kExt | kAlt}}}, {"\x1bO", {{24, 'O', kAlt | kShift}}},
        // Unknown sequences and the terminal's reports are dropped.
        {"\x1b[?1;2c", {}}, {"\x1b[99~", {}}, {"\x1b[200~", {}}, {"\x1b[Xq", {{16, 'q', 0}}},
        // UTF-8 as code page 437 (which has no euro sign); without UTF-8 the byte is the character.
        {"\xc3\xa9", {{0, 0x82, 0}}}, {"\xe2\x96\x88", {{0, 219, 0}}}, {"\xe2\x82\xac", {{0, '?', 0}}},
        {"\x1b\xc3\xa9", {{0, 0x82, kAlt}}}, {"\xe9", {{0, 0xE9, 0}}, false},
        // Several keys in one read.
        {"\x1b[Aa\x1b\x1b\x1bOP", {{72, 0, kExt}, {30, 'a', 0}, {1, 27, kAlt}, {59, 0, 0}}},
        {"a\x1b[Bb", {{30, 'a', 0}, {80, 0, kExt}, {48, 'b', 0}}}};
    for (const auto& c : cases)  // cut at 0: all in one read
        for (size_t cut = 0; cut < c.bytes.size(); ++cut)
            EXPECT_EQ(keys({c.bytes.substr(0, cut), c.bytes.substr(cut)}, c.utf8), c.want)
                << testing::PrintToString(c.bytes) << " cut at " << cut;
}

TEST(KeyDecoder, TerminfoStringsComeFirst) {  // the Linux console's F1 has a form of its own
    EXPECT_EQ(keys({"\x1b[[A\x1b[1;2P"}, true, {{"\x1b[[A", 59, 0}, {"\x1b[1;2P", 59, kAlt}}),
              (std::vector<Key>{{59, 0, 0}, {59, 0, kAlt}}));
}

// Under CTest the standard handles are pipes or files, not a terminal.
TEST(NoTerminal, TheConsoleCallsFailAndTheScreenOpensDrawsAndIsGivenBackWithoutSpinning) {
    if (isatty(0) || isatty(1)) GTEST_SKIP() << "a standard handle is a terminal here";
    HANDLE h = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    DWORD done = 7;
    EXPECT_FALSE(WriteConsoleOutputCharacterA(h, "x", 1, COORD{0, 0}, &done) || done != 0);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    EXPECT_FALSE(GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) << "a pipe taken for a console";
    EXPECT_FALSE(SetConsoleTitleA("x"));
    std_init(1);
    EXPECT_EQ(key_read(nullptr), -1) << "no key comes and nothing waits";
    INPUT_RECORD r;
    EXPECT_FALSE(ReadConsoleInputA(std_in, &r, 1, &done));
    // With no console the largest window is 0 x 0 and the buffer none.
    scr_open(1, 20, 40);
    scr_clear(0x10);
    scr_print("nowhere", 0xFF1C, 1, 1);
    scr_cursor(0);
    // Giving back waits for the blink thread, which answers when its present
    // 50 ms step ends. Found by the unplugged scanner's end-to-end test:
    // every way out passes through that wait, so it must sleep, not spin.
    usleep(20'000);  // into the thread's first step
    auto ms_now = [](bool cpu) {
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        return cpu ? (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3
                   : std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    double cpu = ms_now(true), waited = ms_now(false);
    scr_restore();
    cpu = ms_now(true) - cpu, waited = ms_now(false) - waited;
    EXPECT_GE(waited, 10) << "did not wait for the thread";
    EXPECT_LT(cpu, waited / 10) << "waited " << waited << " ms, using " << cpu << " ms of processor time";
    EXPECT_TRUE(blink_thread.load() == nullptr && saved_cells == nullptr);
    EXPECT_EQ(std::pair(scr_rows, scr_cols), std::pair(int(2), int(16)));
}

// A buffer that would cut the window at its right or bottom edge is refused,
// as on Windows: a repaint would read past the cells. The cases run in a new
// process, whose output is a pseudo-terminal from the start; it ends with
// the number that came out wrong.
int buffer_cases_wrong() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master), unlockpt(master);
    dup2(open(ptsname(master), O_RDWR | O_NOCTTY), 1);
    std::thread([master] { for (char drain[4096]; read(master, drain, sizeof drain) > 0;) {} }).detach();
    setenv("TERM", "xterm", 1);
    HANDLE h = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const struct { SMALL_RECT window; COORD size; BOOL taken; } cases[] = {
        {{10, 0, 49, 19}, {45, 24}, FALSE}, {{0, 4, 39, 23}, {80, 20}, FALSE}, {{10, 4, 49, 23}, {50, 24}, TRUE}};
    int wrong = 0;
    for (const auto& c : cases) {
        SetConsoleScreenBufferSize(h, COORD{80, 24});
        SetConsoleWindowInfo(h, TRUE, &c.window);
        wrong += SetConsoleScreenBufferSize(h, c.size) != c.taken ||
                 (!c.taken && GetLastError() != ERROR_INVALID_PARAMETER);
    }
    return wrong;
}

TEST(OnATerminal, TheBufferMustHoldTheWholeWindow) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(_exit(buffer_cases_wrong()), ::testing::ExitedWithCode(0), "");
}

// Two threads write 200 KiB to standard output while the full screen shows,
// then one write is too large to hold: every line must come out once the
// terminal is given back, whole and once, and then the report of the short
// write, which names the handle.
TEST(HeldOutput, EverythingWrittenUnderTheFullScreenComesOutAfterIt) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const size_t kLines = 200000, kTooLarge = 17 << 20;
    pid_t child = fork();
    if (child == 0) {
        int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        dup2(slave, 1), dup2(slave, 2);
        std_init(1);
        posix::term::set_full_screen(true);
        auto writer = [](char letter) {
            const std::string line = std::string(99, letter) + "\n";
            for (int i = 0; i < 1000; ++i)
                if (out_write(std_out, line.data(), 100) != 100) _exit(3);
        };
        std::thread a(writer, 'a'), b(writer, 'b');
        a.join(), b.join();
        out_write(std_out, std::string(kTooLarge, 'c').data(), kTooLarge);
        _exit(0);  // not reached: the short write is reported
    }
    std::string got;
    char chunk[65536];
    pollfd p{master, POLLIN, 0};
    for (ssize_t n = 1; n > 0 && poll(&p, 1, 5000) > 0;)
        if ((n = read(master, chunk, sizeof chunk)) > 0) got.append(chunk, static_cast<size_t>(n));
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    ASSERT_GT(got.size(), kLines);
    int lines[2] = {0, 0};
    for (size_t at = 0; at < kLines; at += 100)
        if (got.compare(at, 100, std::string(99, got[at]) + "\n") == 0 && (got[at] == 'a' || got[at] == 'b'))
            ++lines[got[at] - 'a'];
    EXPECT_EQ(lines[0], 1000);
    EXPECT_EQ(lines[1], 1000);
    size_t report = got.find("Short write", kLines);
    ASSERT_NE(report, std::string::npos);
    EXPECT_EQ(got.find_first_not_of('c', kLines), size_t(16) << 20);  // held up to 16 MiB in all
    EXPECT_NE(got.find("<stdout>", report), std::string::npos);
}

}  // namespace
