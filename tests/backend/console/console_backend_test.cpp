// The terminal console's key decoder, byte by byte, and the console calls
// when standard output is no terminal (as under CTest): they fail as on
// Windows without a console, and the screen code neither hangs nor crashes.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
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

struct Key {
    int scan;
    int ch;
    DWORD state;
    bool operator==(const Key&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Key& k) {
    return os << "{scan " << k.scan << ", char " << k.ch << ", state 0x" << std::hex << k.state << std::dec << "}";
}

constexpr DWORD kShift = SHIFT_PRESSED, kCtrl = LEFT_CTRL_PRESSED, kAlt = LEFT_ALT_PRESSED, kExt = ENHANCED_KEY;

// Decodes all of the bytes, as after the ESC wait, and lists the keys.
std::vector<Key> keys(const std::string& bytes, bool utf8 = true, const std::vector<KeyString>& known = {}) {
    std::vector<INPUT_RECORD> records;
    size_t used = posix::term::decode_keys(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), true,
                                           known, utf8, &records);
    EXPECT_EQ(used, bytes.size());
    std::vector<Key> out;
    for (const INPUT_RECORD& r : records) {
        EXPECT_EQ(r.EventType, KEY_EVENT);
        EXPECT_TRUE(r.Event.KeyEvent.bKeyDown);
        out.push_back({r.Event.KeyEvent.wVirtualScanCode, static_cast<uint8_t>(r.Event.KeyEvent.uChar.AsciiChar),
                       r.Event.KeyEvent.dwControlKeyState});
    }
    return out;
}

std::vector<Key> one(int scan, int ch, DWORD state) { return {Key{scan, ch, state}}; }

TEST(KeyDecoder, PrintableCharactersCarryTheirScanCodeAndShift) {
    EXPECT_EQ(keys("a"), one(30, 'a', 0));
    EXPECT_EQ(keys("A"), one(30, 'A', kShift));
    EXPECT_EQ(keys("!"), one(2, '!', kShift));
    EXPECT_EQ(keys("/"), one(53, '/', 0));
    EXPECT_EQ(keys("~"), one(41, '~', kShift));
    EXPECT_EQ(keys("|"), one(43, '|', kShift));
    EXPECT_EQ(keys(" "), one(57, ' ', 0));
}

TEST(KeyDecoder, ControlCharactersAreCtrlKeys) {
    EXPECT_EQ(keys("\x01"), one(30, 1, kCtrl));
    EXPECT_EQ(keys("\x1a"), one(44, 26, kCtrl));
    EXPECT_EQ(keys(std::string(1, '\0')), one(3, 0, kCtrl));  // Ctrl+2 gives KeyCode 0
    EXPECT_EQ(keys("\r"), one(28, 13, 0));
    EXPECT_EQ(keys("\t"), one(15, 9, 0));
    EXPECT_EQ(keys("\x7f"), one(14, 8, 0));
    EXPECT_EQ(keys("\x08"), one(14, 8, 0));
}

TEST(KeyDecoder, EscAloneOnlyOnceTheWaitIsOver) {
    std::vector<INPUT_RECORD> records;
    const unsigned char esc[] = {27};
    EXPECT_EQ(posix::term::decode_keys(esc, 1, false, {}, true, &records), 0u);
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(keys("\x1b"), one(1, 27, 0));
    // The start of a sequence waits too, and is ESC and keys once it is over.
    const unsigned char partial[] = {27, '[', '1', ';'};
    EXPECT_EQ(posix::term::decode_keys(partial, 4, false, {}, true, &records), 0u);
    EXPECT_EQ(keys("\x1b["), one(26, '[', kAlt));
}

TEST(KeyDecoder, CursorKeysInCsiAndSs3Forms) {
    EXPECT_EQ(keys("\x1b[A"), one(72, 0, kExt));
    EXPECT_EQ(keys("\x1bOA"), one(72, 0, kExt));
    EXPECT_EQ(keys("\x1b[B"), one(80, 0, kExt));
    EXPECT_EQ(keys("\x1b[D"), one(75, 0, kExt));
    EXPECT_EQ(keys("\x1bOC"), one(77, 0, kExt));
    EXPECT_EQ(keys("\x1b[H"), one(71, 0, kExt));
    EXPECT_EQ(keys("\x1bOF"), one(79, 0, kExt));
    EXPECT_EQ(keys("\x1b[1~"), one(71, 0, kExt));
    EXPECT_EQ(keys("\x1b[4~"), one(79, 0, kExt));
    EXPECT_EQ(keys("\x1b[2~"), one(82, 0, kExt));
    EXPECT_EQ(keys("\x1b[3~"), one(83, 0, kExt));
    EXPECT_EQ(keys("\x1b[5~"), one(73, 0, kExt));
    EXPECT_EQ(keys("\x1b[6~"), one(81, 0, kExt));
}

TEST(KeyDecoder, XtermModifierParameters) {
    EXPECT_EQ(keys("\x1b[1;2A"), one(72, 0, kExt | kShift));
    EXPECT_EQ(keys("\x1b[1;3B"), one(80, 0, kExt | kAlt));
    EXPECT_EQ(keys("\x1b[1;5C"), one(77, 0, kExt | kCtrl));
    EXPECT_EQ(keys("\x1b[1;8D"), one(75, 0, kExt | kShift | kAlt | kCtrl));
    EXPECT_EQ(keys("\x1b[5;5~"), one(73, 0, kExt | kCtrl));
    EXPECT_EQ(keys("\x1b[1;2P"), one(59, 0, kShift));
    EXPECT_EQ(keys("\x1bO5P"), one(59, 0, kCtrl));
}

TEST(KeyDecoder, FunctionKeys) {
    const std::pair<const char*, int> plain[] = {{"\x1bOP", 59},    {"\x1bOQ", 60},    {"\x1bOR", 61},
                                                 {"\x1bOS", 62},    {"\x1b[15~", 63},  {"\x1b[17~", 64},
                                                 {"\x1b[18~", 65},  {"\x1b[19~", 66},  {"\x1b[20~", 67},
                                                 {"\x1b[21~", 68},  {"\x1b[23~", 87},  {"\x1b[24~", 88},
                                                 {"\x1b[11~", 59},  {"\x1b[12~", 60}};
    for (const auto& [bytes, scan] : plain) EXPECT_EQ(keys(bytes), one(scan, 0, 0)) << bytes + 1;
    EXPECT_EQ(keys("\x1b[24;2~"), one(88, 0, kShift));
    EXPECT_EQ(keys("\x1b[15;3~"), one(63, 0, kAlt));
}

TEST(KeyDecoder, ShiftTabAndKeypadEnter) {
    EXPECT_EQ(keys("\x1b[Z"), one(15, 9, kShift));
    EXPECT_EQ(keys("\x1bOM"), one(28, 13, 0));
}

TEST(KeyDecoder, AltIsAnEscPrefix) {
    EXPECT_EQ(keys("\x1b" "a"), one(30, 'a', kAlt));
    EXPECT_EQ(keys("\x1b" "A"), one(30, 'A', kAlt | kShift));
    EXPECT_EQ(keys("\x1b\x1b"), one(1, 27, kAlt));
    EXPECT_EQ(keys("\x1b\x01"), one(30, 1, kAlt | kCtrl));
    EXPECT_EQ(keys("\x1b\x1b[A"), one(72, 0, kExt | kAlt));
    EXPECT_EQ(keys("\x1bO"), one(24, 'O', kAlt | kShift));
}

TEST(KeyDecoder, UnknownSequencesAndReportsAreDropped) {
    EXPECT_TRUE(keys("\x1b[?1;2c").empty());
    EXPECT_TRUE(keys("\x1b[99~").empty());
    EXPECT_TRUE(keys("\x1b[200~").empty());
    EXPECT_EQ(keys("\x1b[Xq"), one(16, 'q', 0));
}

TEST(KeyDecoder, SeveralKeysInOneRead) {
    std::vector<Key> want = {{72, 0, kExt}, {30, 'a', 0}, {1, 27, kAlt}, {59, 0, 0}};
    EXPECT_EQ(keys("\x1b[Aa\x1b\x1b\x1bOP"), want);
}

TEST(KeyDecoder, Utf8CharactersBecomeTheirCodePage437Codes) {
    EXPECT_EQ(keys("\xc3\xa9"), one(0, 0x82, 0));  // é
    EXPECT_EQ(keys("\xe2\x96\x88"), one(0, 219, 0));
    EXPECT_EQ(keys("\xe2\x82\xac"), one(0, '?', 0));  // no euro sign in 437
    EXPECT_EQ(keys("\x1b\xc3\xa9"), one(0, 0x82, kAlt));
    // Without UTF-8 the byte is the character.
    EXPECT_EQ(keys("\xe9", false), one(0, 0xE9, 0));
    // Half a character waits for the rest.
    std::vector<INPUT_RECORD> records;
    const unsigned char half[] = {0xE2, 0x96};
    EXPECT_EQ(posix::term::decode_keys(half, 2, false, {}, true, &records), 0u);
}

TEST(KeyDecoder, TerminfoStringsComeFirst) {
    // The Linux console's F1 has a form of its own.
    std::vector<KeyString> known = {{"\x1b[[A", 59, 0}, {"\x1b[1;2P", 59, kShift}};
    EXPECT_EQ(keys("\x1b[[A", true, known), one(59, 0, 0));
    EXPECT_EQ(keys("\x1b[1;2P", true, known), one(59, 0, kShift));
}

// Under CTest standard output is a pipe or a file, not a terminal.
class NoTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        if (isatty(1)) GTEST_SKIP() << "standard output is a terminal here";
    }
};

TEST_F(NoTerminal, ConsoleOutputCannotBeOpenedAndItsCallsFail) {
    HANDLE h = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    EXPECT_FALSE(GetConsoleScreenBufferInfo(h, &info));
    COORD largest = GetLargestConsoleWindowSize(h);
    EXPECT_EQ(largest.X, 0);
    DWORD done = 7;
    EXPECT_FALSE(WriteConsoleOutputCharacterA(h, "x", 1, COORD{0, 0}, &done));
    EXPECT_EQ(done, 0u);
    // A handle of another kind is no console either.
    EXPECT_FALSE(GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info));
    EXPECT_FALSE(SetConsoleTitleA("x"));
}

TEST_F(NoTerminal, TheScreenOpensDrawsAndClosesWithoutAConsole) {
    std_init(1);
    scr_open(1, 20, 40);
    scr_clear(0x10);
    scr_print("nowhere", 0xFF1C, 1, 1);
    scr_cursor(0);
    scr_restore();
    EXPECT_EQ(saved_cells, nullptr);
    EXPECT_EQ(blink_thread.load(), nullptr);
    EXPECT_EQ(scr_rows, 2);
    EXPECT_EQ(scr_cols, 16);
}

TEST(ConsoleInput, WithoutATerminalNoKeyComesAndNothingWaits) {
    if (isatty(0)) GTEST_SKIP() << "standard input is a terminal here";
    std_init(1);
    EXPECT_EQ(key_read(nullptr), -1);
    INPUT_RECORD r;
    DWORD n = 5;
    EXPECT_FALSE(ReadConsoleInputA(std_in, &r, 1, &n));
    EXPECT_EQ(n, 0u);
}

}  // namespace
