// The shadow screen, the takeover and its blink thread (whose Sleep waits as
// Windows' does: tests wait for a number of them), keys and page memory.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "console/keys.h"
#include "console/mem.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"

namespace {

struct Screen : ::testing::Test {
    void SetUp() override {
        fake::reset();
        scr_out = fake::console_output;
        blink_phase = 0;
        scr_size(20, 40);
        fake::calls.clear();
    }
    void TearDown() override { scr_restore(); }
    static int writes() {
        return fake::count("WriteConsoleOutputAttribute") + fake::count("WriteConsoleOutputCharacterA");
    }
    static std::string text(int row, int from, int n) { return fake::console_line(row - 1).substr(from - 1, n); }
    static void damage() { fake::console.chars.assign(fake::console.chars.size(), '?'); }
    static void let_blink(int cycles) {  // at least this many whole cycles
        for (int start = fake::count("Sleep"); fake::count("Sleep") < start + 20 * cycles + 1;)  // 50 ms steps
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};
using Takeover = Screen;

TEST_F(Screen, ARedrawWithNothingChangedMakesNoConsoleCallAndAChangeRewritesItsWholeRun) {
    for (auto [row, column] : {std::pair{0, 5}, {5, 0}, {21, 5}, {5, 41}}) scr_print("x", 7, row, column);
    EXPECT_TRUE(fake::calls.empty()) << "drawn off the screen";
    scr_print(T("Signal"), 0x1E, 3, 5);  // unread: turned plain on the way
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"WriteConsoleOutputAttribute", "WriteConsoleOutputCharacterA"}));
    EXPECT_EQ(fake::console_attr(2, 4), 0x1E);
    scr_print(T("Signal"), 0x1E, 3, 5);
    scr_fill(0, 0x1E, 3, 5);
    EXPECT_EQ(writes(), 2) << "nothing changed";
    damage();  // behind the shadow's back: shows which cells a call rewrote
    scr_print("SignaL", 0x1E, 3, 5);
    EXPECT_EQ(text(3, 4, 8), "?SignaL?");
    damage();
    scr_print("SignaL", 0x1A, 3, 5);
    EXPECT_EQ(text(3, 5, 6), "SignaL") << "another colour rewrites the characters too";
    scr_printf(4, 39, 0x17, T("%i kHz"), 145);
    EXPECT_EQ(text(4, 38, 3) + text(5, 1, 1), "?14?") << "cut at the row's end";
}

TEST_F(Screen, ColourCodesAndTheBlinkingCellsTheyMake) {
    const struct { const char* text; int colour, pair, count; } steps[] = {
        {"steady", 30, 0x1E1E, 0}, {"alarm!", 0xFF1C, 0x111C, 6}, {"alarm!", -228, 0x111C, 6},
        {"al", 0xBB1E, 0xE11E, 6}, {"alarm!", 0x4F1E, 0x4F1E, 6}, {"alarm!", 0x10017, 0x1717, 0}};
    for (const auto& s : steps) {
        scr_print(s.text, s.colour, 7, 17);
        EXPECT_EQ(scr_colour_pair(s.colour), s.pair) << std::hex << s.colour;
        EXPECT_EQ(blink_cells.load(), s.count) << std::hex << s.colour;
    }
}

// Without save and rows, the present buffer as far as the largest window
// (150 x 50) goes. The thread is silent without blinking cells, shows them
// in the alternate phase for 300 ms of each second, and what is drawn while
// it blinks ends on the console as in the shadow.
TEST_F(Takeover, TheBlinkThreadAndTheLargestWindow) {
    fake::console_setup(200, 100);
    scr_open(0, 0, 40);
    EXPECT_EQ(std::pair(scr_rows, scr_cols), std::pair(50, 150));
    scr_print("steady", 0x1E, 1, 1);
    int before = writes();
    let_blink(3);
    EXPECT_EQ(writes(), before) << "a console call with nothing blinking";
    char line[151] = {};
    for (int i = 0; i < 500; ++i) {
        for (int c = 0; c < 150; ++c) line[c] = static_cast<char>('a' + (i + c) % 26);
        scr_print(line, i % 3 == 0 ? 0xFF1C : i % 3 == 1 ? 0xBB1E : 0x1A, 1 + i % 50, 1);
    }
    fake::record("blinking");
    let_blink(3);
    fake::record("restoring");  // whose writes are no phase
    scr_restore();
    EXPECT_EQ(blink_thread.load(), nullptr);
    // A phase is the time slept between two showings, without the 1 ms waits
    // for the lock and for the thread's end; the first and last are cut short.
    std::vector<DWORD> phases{0};
    bool blinking = false;
    for (size_t call = 0, k = 0; fake::calls[call] != "restoring"; ++call) {
        blinking = blinking || fake::calls[call] == "blinking";
        if (fake::calls[call] == "Sleep") {
            DWORD ms = fake::sleeps[k++];
            if (blinking && ms != 1) phases.back() += ms;
        } else if (blinking && fake::calls[call] == "WriteConsoleOutputAttribute" && phases.back() != 0) {
            phases.push_back(0);
        }
    }
    ASSERT_GE(phases.size(), 5u);
    for (size_t i = 2; i + 1 < phases.size(); ++i) EXPECT_EQ(phases[i - 1] + phases[i], 1000u) << "300 and 700 ms in turn";
    for (int cell = 0; cell < 50 * 150; ++cell) {
        ASSERT_EQ(fake::console.chars[size_t(cell)], scr_chars[cell]) << cell;
        ASSERT_EQ(fake::console.attrs[size_t(cell)], scr_attrs[cell] & 0xFF) << cell;
    }
}

TEST_F(Takeover, RestoreGivesTheSavedCellsBufferAndCursorBack) {
    fake::console_setup(100, 30);
    for (size_t i = 0; i < fake::console.chars.size(); ++i) fake::console.chars[i] = char('A' + i % 26);
    fake::console.cursor_info = {50, TRUE};
    const fake::Console before = fake::console;
    scr_open(1, 20, 40);
    EXPECT_FALSE(fake::console.cursor_info.bVisible);
    scr_print("taken over", 0x1E, 1, 1);
    scr_restore();
    EXPECT_EQ(std::pair(fake::console.size.X, fake::console.size.Y), std::pair(SHORT(100), SHORT(30)));
    const CONSOLE_CURSOR_INFO& cursor = fake::console.cursor_info;
    EXPECT_EQ(std::pair(cursor.dwSize, cursor.bVisible), std::pair(DWORD(50), TRUE));
    EXPECT_EQ(fake::console.chars, before.chars);
    EXPECT_EQ(fake::console.attrs, before.attrs);
}

struct Keys : ::testing::Test {
    void SetUp() override {
        fake::reset();
        std_init(1);
        while (key_read(nullptr) != -1) {
        }
        fake::calls.clear();
    }
};

constexpr DWORD kShift = SHIFT_PRESSED, kCtrl = LEFT_CTRL_PRESSED, kAlt = LEFT_ALT_PRESSED;

TEST_F(Keys, EachKeyDownGivesItsKeyCodeAndScanCodeInOneCallAndItsKeyUpNothing) {
    // Typed characters bypass the table; Alt counts before Ctrl, Ctrl before
    // Shift; AltGr is Alt and Ctrl. want -1: the key gives nothing.
    const struct { WORD scan; char ch; DWORD state; int want; } cases[] = {
        {30, 'a', 0, 97}, {0, char(0x81), 0, 0x81}, {15, 9, kShift, 271}, {16, 0, 0, 113}, {16, 0, kShift, 81},
        {30, 1, kCtrl, 1}, {50, 'm', RIGHT_ALT_PRESSED, 306}, {44, 26, RIGHT_CTRL_PRESSED, 26},
        {16, '@', RIGHT_ALT_PRESSED | kCtrl, 272}, {88, 0, kShift | kCtrl, 394}, {88, 0, kShift | kCtrl | kAlt, 396},
        {3, 0, kCtrl, 0}, {29, 0, 0, -1}, {92, 0, kAlt, -1}};
    INPUT_RECORD resize{};
    resize.EventType = WINDOW_BUFFER_SIZE_EVENT;
    for (const auto& c : cases) {
        fake::console.input.push_back(resize);  // used up by the same call as the key behind it
        fake::type_key(c.scan, c.ch, c.state);
        int32_t scan = -5;
        EXPECT_EQ(key_read(&scan), c.want) << c.scan;
        EXPECT_EQ(scan, c.want == -1 ? 0 : c.scan) << c.scan;
        EXPECT_EQ(key_read(nullptr), -1) << c.scan << ": the key-up gave a key";
    }
}

TEST_F(Keys, QueuedKeysComeFirstAndPollingWaits1MsWhenNoKeyWaits) {
    fake::type_key(30, 'a');
    for (int i = 0; i < 256; ++i) ASSERT_EQ(key_push(1000 + i, i + 1), 0);
    EXPECT_EQ(key_push(5, 5), 1);  // the queue holds 256
    int32_t scan = 0;
    for (int i = 0; i < 256; ++i) ASSERT_EQ(key_read(&scan), 1000 + i);
    EXPECT_EQ(scan, 256);
    EXPECT_EQ(key_poll(), 97);
    EXPECT_TRUE(fake::sleeps.empty());
    EXPECT_EQ(key_poll(), -1);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>{1});
}

TEST(PageMemory, RoundedToPagesRetriedAfter500And1000And2000MsThenFatal) {
    fake::reset();
    std_init(1);
    page_size = 0;
    fake::alloc_refusals = 2;
    void* a = mem_alloc(1);
    mem_free(mem_alloc(4096)), mem_free(mem_alloc(4097));
    EXPECT_EQ(fake::alloc_sizes, (std::vector<SIZE_T>{4096, 4096, 4096, 4096, 8192}));
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{500, 1000}));
    EXPECT_EQ(fake::count("GetSystemInfo"), 1);
    EXPECT_EQ(mem_free(a), 0);
    EXPECT_EQ(fake::live_blocks(), 0);
    fake::alloc_refusals = 4;
    fake::sleeps.clear();
    EXPECT_THROW(mem_alloc(5000), fake::Exit);
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{500, 1000, 2000}));
    const std::string& err = fake::written[std_err];
    EXPECT_TRUE(err.find("5000") != std::string::npos && err.find("8192") != std::string::npos) << err;
    EXPECT_THROW(mem_alloc(0), fake::Exit);  // rounds to 0, which the system refuses
}

}  // namespace
