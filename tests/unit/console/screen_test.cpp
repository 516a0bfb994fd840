// The shadow screen over the fake console: which runs reach the console,
// colours and blinking, sizing, the ticket lock, and taking over and giving
// back the console. The fake's Sleep does not wait, so the blink thread runs
// its cycles as fast as it can; tests wait for a number of its sleeps.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "console/screen.h"
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
    static int writes() { return fake::count("WriteConsoleOutputAttribute") + fake::count("WriteConsoleOutputCharacterA"); }
    static std::string text(int row, int from, int n) { return fake::console_line(row - 1).substr(from - 1, n); }
    static void damage() { fake::console.chars.assign(fake::console.chars.size(), '?'); }
    static void let_blink(int cycles) {  // at least this many whole cycles
        for (int start = fake::count("Sleep"); fake::count("Sleep") < start + 2 * cycles + 1;) std::this_thread::yield();
    }
};
using Takeover = Screen;

TEST_F(Screen, ARedrawWithNothingChangedMakesNoConsoleCallAndAChangeRewritesItsWholeRun) {
    for (auto [row, column] : {std::pair{0, 5}, {5, 0}, {21, 5}, {5, 41}}) scr_print(T("x"), 7, row, column);
    EXPECT_TRUE(fake::calls.empty()) << "drawn off the screen";
    scr_print(T("Signal"), 0x1E, 3, 5);
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
    scr_print("XYZ", 0x17, 4, 39);
    scr_printf(9, 13, 0x1A, T("%i kHz"), 145);
    EXPECT_EQ(text(4, 38, 3) + text(5, 1, 1), "?XY?") << "cut at the row's end";
    EXPECT_EQ(text(9, 13, 7), "145 kHz");
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

TEST_F(Screen, SizingStaysWithinTheLargestWindowAndTheLimitsAndLeavesBlanksInColour7) {
    const struct { SHORT largest_cols, largest_rows; int rows, cols, want_rows, want_cols; } cases[] = {
        {150, 50, 1, 5, 2, 16}, {150, 50, 1000, 2000, 50, 150}, {3000, 2000, 1000, 2000, 768, 1024}};
    const int blocks = fake::live_blocks();
    for (const auto& c : cases) {
        scr_print("blink", 0xFF1C, 1, 1);
        fake::console.largest = {c.largest_cols, c.largest_rows};
        scr_size(c.rows, c.cols);
        EXPECT_EQ(std::vector<int>({scr_rows, scr_cols, fake::console.size.Y, fake::console.size.X,
                                    fake::console.window.Bottom + 1, fake::console.window.Right + 1}),
                  std::vector<int>({c.want_rows, c.want_cols, c.want_rows, c.want_cols, c.want_rows, c.want_cols}));
        EXPECT_EQ(std::string(fake::console.chars.begin(), fake::console.chars.end()),
                  std::string(fake::console.chars.size(), ' '));
        EXPECT_EQ(fake::console.attrs, std::vector<WORD>(fake::console.attrs.size(), 7));
        EXPECT_EQ(blink_cells.load(), 0);
        EXPECT_EQ(fake::live_blocks(), blocks) << "the earlier shadow was not given back";
    }
}

TEST(TicketLock, WaitersAreServedInTheOrderOfTheirTicketsAcrossTheWrapAt256) {
    fake::reset();
    TicketLock lock;
    for (int i = 0; i < 254; ++i) ticket_lock(&lock), ticket_unlock(&lock);
    EXPECT_EQ(fake::count("Sleep"), 0) << "waited for a free lock";
    std::vector<int> order;
    ticket_lock(&lock);  // ticket 254; the waiters draw 255 and 0
    auto waiter = [&](int id) {
        ticket_lock(&lock);
        order.push_back(id);  // guarded by the lock itself
        ticket_unlock(&lock);
    };
    std::thread second(waiter, 2);
    while (lock.next_ticket.load() != 0) std::this_thread::yield();
    std::thread third(waiter, 3);
    while (lock.next_ticket.load() != 1) std::this_thread::yield();
    order.push_back(1);
    ticket_unlock(&lock);
    second.join(), third.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(lock.guard.load(), 0);
}

TEST_F(Takeover, OpenAndRestoreGiveTheConsoleBackAsItWas) {
    fake::console_setup(100, 30);
    for (size_t i = 0; i < fake::console.chars.size(); ++i) fake::console.chars[i] = char('A' + i % 26);
    fake::console.attrs[2999] = 0x4E;
    fake::console.window = {0, 5, 79, 29};
    fake::console.cursor = {70, 25};  // outside the 40 x 20 screen, which moves it
    fake::console.text_attribute = 0x1F;
    fake::console.cursor_info = {50, TRUE};
    const fake::Console before = fake::console;
    scr_open(1, 20, 40);
    EXPECT_EQ(fake::console.size.X, 40);
    EXPECT_FALSE(fake::console.cursor_info.bVisible);
    scr_print("blinking", 0xFF1C, 3, 3);
    let_blink(2);
    scr_restore();
    EXPECT_EQ(blink_thread.load(), nullptr);
    EXPECT_EQ(saved_cells, nullptr);
    const fake::Console& c = fake::console;
    EXPECT_EQ(std::vector<int>({c.size.X, c.size.Y, c.window.Top, c.window.Right, c.cursor.X, c.cursor.Y,
                                int(c.cursor_info.dwSize), c.cursor_info.bVisible, c.text_attribute}),
              std::vector<int>({100, 30, 5, 79, 70, 25, 50, TRUE, 0x1F}));
    EXPECT_EQ(c.chars, before.chars);
    EXPECT_EQ(c.attrs, before.attrs);
    scr_restore();  // a second time: nothing left to give back
}

TEST_F(Takeover, WithoutSaveZeroRowsTakeThePresentBufferWithinTheLargestWindow) {
    fake::console_setup(200, 100);
    scr_open(0, 0, 40);
    EXPECT_EQ(scr_rows, 50);  // the largest window, 150 x 50
    EXPECT_EQ(scr_cols, 150);
    scr_print("kept", 0x1E, 1, 1);
    scr_restore();
    EXPECT_EQ(blink_thread.load(), nullptr);
    EXPECT_EQ(fake::console.size.X, 150);
    EXPECT_EQ(text(1, 1, 4), "kept");
}

TEST_F(Takeover, TheThreadShowsBlinkingCellsInTheAlternatePhaseFor300MsOfEachSecondAndIsSilentWithoutThem) {
    scr_open(0, 20, 40);
    scr_print("steady", 0x1E, 1, 1);
    int before = writes();
    let_blink(5);
    EXPECT_EQ(writes(), before) << "a console call with nothing blinking";
    scr_print("alarm", 0xFF1C, 2, 1);
    scr_print("alarm", 0xFF1C, 4, 1);
    before = fake::count("WriteConsoleOutputAttribute");
    let_blink(3);
    scr_restore();
    // One call per blinking run and phase: two rows, both phases, per cycle.
    EXPECT_GE(fake::count("WriteConsoleOutputAttribute") - before, 3 * 4);
    EXPECT_EQ(blink_phase, 0) << "the thread ended in the alternate phase";
    std::vector<DWORD> phases;  // without the 1 ms waits for the lock and for the thread's end
    for (DWORD ms : fake::sleeps)
        if (ms != 1) phases.push_back(ms);
    phases.resize(4);
    EXPECT_EQ(phases, (std::vector<DWORD>{300, 700, 300, 700}));
}

TEST_F(Takeover, DrawingWhileBlinkingEndsWithTheShadowOnTheConsole) {
    scr_open(0, 20, 40);
    char line[41] = {};
    for (int i = 0; i < 3000; ++i) {
        for (int c = 0; c < 40; ++c) line[c] = static_cast<char>('a' + (i + c) % 26);
        scr_print(line, i % 3 == 0 ? 0xFF1C : i % 3 == 1 ? 0xBB1E : 0x1A, 1 + i % 20, 1);
    }
    scr_restore();
    for (int cell = 0; cell < 20 * 40; ++cell) {
        ASSERT_EQ(fake::console.chars[size_t(cell)], scr_chars[cell]) << cell;
        ASSERT_EQ(fake::console.attrs[size_t(cell)], scr_attrs[cell] & 0xFF) << cell;
    }
}

// One phase by hand: only blinking runs, never across a row, and what is
// drawn during the alternate phase goes out in it.
TEST_F(Takeover, APhaseWritesOnlyBlinkingRunsAndTakesAlongWhatIsDrawnDuringIt) {
    scr_print("tail", 0xFF1C, 1, 37);
    scr_print("head", 0xFF1C, 2, 1);
    scr_print("steady", 0x1E, 3, 1);
    fake::calls.clear();
    scr_show_phase(0);
    EXPECT_EQ(fake::calls, std::vector<std::string>(2, "WriteConsoleOutputAttribute"));
    EXPECT_EQ(std::vector<int>({fake::console_attr(0, 36), fake::console_attr(1, 3), fake::console_attr(1, 4),
                                fake::console_attr(2, 0)}),
              std::vector<int>({0x11, 0x11, 7, 0x1E}));
    scr_print("inv", 0xBB1E, 5, 1);
    EXPECT_EQ(fake::console_attr(4, 0), 0xE1);
    scr_show_phase(1);
    EXPECT_EQ(fake::console_attr(0, 39), 0x1C);
    EXPECT_EQ(fake::console_attr(4, 0), 0x1E);
    for (auto [shape, size, visible] : {std::tuple{1, 20, TRUE}, {3, 100, TRUE}, {4, 1, FALSE}, {0x10002, 50, TRUE}}) {
        scr_cursor(shape);
        EXPECT_EQ(std::pair(int(fake::console.cursor_info.dwSize), fake::console.cursor_info.bVisible),
                  std::pair(size, visible)) << shape;
    }
}

}  // namespace
