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
    static int writes() {
        return fake::count("WriteConsoleOutputAttribute") + fake::count("WriteConsoleOutputCharacterA");
    }
    static std::string text(int row, int from, int n) { return fake::console_line(row - 1).substr(from - 1, n); }
    static void damage() { fake::console.chars.assign(fake::console.chars.size(), '?'); }
    static void let_blink(int cycles) {  // at least this many whole cycles
        for (int start = fake::count("Sleep"); fake::count("Sleep") < start + 20 * cycles + 1;)  // 50 ms steps
            std::this_thread::yield();
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

TEST_F(Screen, SizingStaysWithinTheLargestWindowAndTheLimitsAndLeavesBlanksInColour7) {
    const struct { SHORT largest_cols, largest_rows; int rows, cols, want_rows, want_cols; } cases[] = {
        {150, 50, 1, 5, 2, 16}, {3000, 2000, 1000, 2000, 768, 1024}};
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
    scr_restore();
    EXPECT_EQ(blink_thread.load(), nullptr);
    // A phase is the time slept between two showings, without the 1 ms waits
    // for the lock and for the thread's end; the first and last are cut short.
    std::vector<DWORD> phases{0};
    bool blinking = false;
    for (size_t call = 0, k = 0; call < fake::calls.size(); ++call) {
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

}  // namespace
