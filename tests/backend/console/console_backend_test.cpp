// The terminal console's key decoder, the window that the screen buffer
// must hold, and the text written while the full screen shows, on a
// pseudo-terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <tuple>
#include <vector>
#include "platform/posix/console_term.h"
#include "runtime/out.h"

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
void expect_keys_however_cut(const std::string& bytes, const std::vector<Key>& want, bool utf8 = true) {
    for (size_t cut = 0; cut < bytes.size(); ++cut)  // cut at 0: all in one read
        EXPECT_EQ(keys({bytes.substr(0, cut), bytes.substr(cut)}, utf8), want)
            << testing::PrintToString(bytes) << " cut at " << cut;
}

TEST(KeyDecoder, EachSequenceGivesItsKeysHoweverItIsCut) {
    // Each key of the CSI and SS3 forms (used where terminfo names none), and
    // xterm's modifier parameters: what follows ESC, the scan code, the state.
    const struct { const char* sequence; int scan; DWORD state; } escaped[] = {
        {"[A", 72, kExt}, {"OA", 72, kExt}, {"[B", 80, kExt}, {"[D", 75, kExt}, {"OC", 77, kExt},
        {"[H", 71, kExt}, {"OF", 79, kExt}, {"[1~", 71, kExt}, {"[4~", 79, kExt}, {"[2~", 82, kExt},
        {"[3~", 83, kExt}, {"[5~", 73, kExt}, {"[6~", 81, kExt}, {"OP", 59, 0}, {"OQ", 60, 0}, {"OR", 61, 0},
        {"OS", 62, 0}, {"[15~", 63, 0}, {"[17~", 64, 0}, {"[18~", 65, 0}, {"[19~", 66, 0}, {"[20~", 67, 0},
        {"[21~", 68, 0}, {"[23~", 87, 0}, {"[24~", 88, 0}, {"[11~", 59, 0}, {"[12~", 60, 0},
        {"[1;2A", 72, kExt | kShift}, {"[1;3B", 80, kExt | kAlt}, {"[1;5C", 77, kExt | kCtrl},
        {"[1;8D", 75, kExt | kShift | kAlt | kCtrl}, {"[5;5~", 73, kExt | kCtrl}, {"[1;2P", 59, kShift},
        {"O5P", 59, kCtrl}, {"[24;2~", 88, kShift}, {"[15;3~", 63, kAlt}, {"\x1b[A", 72, kExt | kAlt},
        {"\x1bOB", 80, kExt | kAlt}};
    for (const auto& e : escaped) expect_keys_however_cut(std::string("\x1b") + e.sequence, {{e.scan, 0, e.state}});
    const struct { std::string bytes; std::vector<Key> want; bool utf8 = true; } cases[] = {
        // Characters with their scan code, and Shift where it takes one; control characters as Ctrl keys.
        {"a", {{30, 'a', 0}}}, {"A", {{30, 'A', kShift}}}, {"!", {{2, '!', kShift}}}, {"/", {{53, '/', 0}}},
        {"~", {{41, '~', kShift}}}, {"|", {{43, '|', kShift}}}, {" ", {{57, ' ', 0}}}, {"\x01", {{30, 1, kCtrl}}},
        {"\x1a", {{44, 26, kCtrl}}}, {std::string(1, '\0'), {{3, 0, kCtrl}}}, {"\r", {{28, 13, 0}}},
        {"\t", {{15, 9, 0}}}, {"\x7f", {{14, 8, 0}}}, {"\x08", {{14, 8, 0}}},
        // ESC alone, or the start of a sequence, once nothing more comes; back-tab and keypad Enter.
        {"\x1b", {{1, 27, 0}}}, {"\x1b[", {{26, '[', kAlt}}}, {"\x1b[Z", {{15, 9, kShift}}}, {"\x1bOM", {{28, 13, 0}}},
        // Alt is an ESC in front.
        {"\x1b" "a", {{30, 'a', kAlt}}}, {"\x1b" "A", {{30, 'A', kAlt | kShift}}}, {"\x1b\x1b", {{1, 27, kAlt}}},
        {"\x1b\x01", {{30, 1, kAlt | kCtrl}}}, {"\x1bO", {{24, 'O', kAlt | kShift}}},
        // Unknown sequences and the terminal's reports are dropped.
        {"\x1b[?1;2c", {}}, {"\x1b[99~", {}}, {"\x1b[200~", {}}, {"\x1b[Xq", {{16, 'q', 0}}},
        // UTF-8 as code page 437 (which has no euro sign); without UTF-8 the byte is the character.
        {"\xc3\xa9", {{0, 0x82, 0}}}, {"\xe2\x96\x88", {{0, 219, 0}}}, {"\xe2\x82\xac", {{0, '?', 0}}},
        {"\x1b\xc3\xa9", {{0, 0x82, kAlt}}}, {"\xe9", {{0, 0xE9, 0}}, false},
        // Several keys in one read.
        {"\x1b[Aa\x1b\x1b\x1bOP", {{72, 0, kExt}, {30, 'a', 0}, {1, 27, kAlt}, {59, 0, 0}}},
        {"a\x1b[Bb", {{30, 'a', 0}, {80, 0, kExt}, {48, 'b', 0}}}};
    for (const auto& c : cases) expect_keys_however_cut(c.bytes, c.want, c.utf8);
}

TEST(KeyDecoder, TerminfoStringsComeFirst) {  // the Linux console's F1 has a form of its own
    EXPECT_EQ(keys({"\x1b[[A\x1b[1;2P"}, true, {{"\x1b[[A", 59, 0}, {"\x1b[1;2P", 59, kAlt}}),
              (std::vector<Key>{{59, 0, 0}, {59, 0, kAlt}}));
}

// A buffer that would cut the window at its right or bottom edge is refused,
// as on Windows: a repaint would read past the cells. Gives the number of
// cases that came out wrong.
int buffer_cases_wrong() {
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

// In a new process writing to a pseudo-terminal: the buffer cases; two
// threads write 200 KiB under the full screen, then one write too large to
// hold: every line comes out whole and once after it, then the short write's report.
TEST(OnATerminal, TheBufferHoldsTheWindowAndEverythingWrittenUnderTheFullScreenComesOutAfterIt) {
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
        setenv("TERM", "xterm", 1);
        if (buffer_cases_wrong() != 0) _exit(4);
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
    got.erase(0, std::min(got.find(std::string(99, 'a')), got.find(std::string(99, 'b'))));  // the give-back before
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
