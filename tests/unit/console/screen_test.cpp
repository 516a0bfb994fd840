// The shadow screen over the fake console: which runs reach the console and
// which cost nothing, colours and blinking cells, sizing, and the ticket lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "console/screen.h"
#include "runtime/txt.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"

namespace {

class Screen : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        scr_out = fake::console_output;
        scr_rows = scr_cols = 0;
        blink_phase = 0;
    }
    // A sized 20 × 40 screen and a clean call log.
    void sized() {
        scr_size(20, 40);
        fake::calls.clear();
    }
    int writes() { return fake::count("WriteConsoleOutputAttribute") + fake::count("WriteConsoleOutputCharacterA"); }
    std::string text(int row, int from, int n) { return fake::console_line(row - 1).substr(from - 1, n); }
    void damage_console() { fake::console.chars.assign(fake::console.chars.size(), '?'); }
    template <typename T>
    static long cells_unlike(const std::vector<T>& cells, T value) {
        return std::count_if(cells.begin(), cells.end(), [&](T cell) { return cell != value; });
    }
};

TEST(ColourCode, ExpandsIntoNormalAndAlternateAttributes) {
    EXPECT_EQ(scr_colour_pair(30), 0x1E1E);
    EXPECT_EQ(scr_colour_pair(0xFF1C), 0x111C);  // vanishes into its blue background
    EXPECT_EQ(scr_colour_pair(0xBB1E), 0xE11E);  // inverse
    EXPECT_EQ(scr_colour_pair(0x4F1E), 0x4F1E);  // taken as it is
    EXPECT_EQ(scr_colour_pair(-228), 0x111C);
    EXPECT_EQ(scr_colour_pair(0x10017), 0x1717);  // only the low 16 bits count
}

TEST_F(Screen, OnlyARunWithAChangedCellReachesTheConsoleAndThenWholeInTwoCalls) {
    scr_print(T("x"), 7, 1, 1);
    scr_clear(7);
    EXPECT_TRUE(fake::calls.empty()) << "drawn before sizing";
    sized();
    for (auto [row, column] : {std::pair{0, 5}, {5, 0}, {21, 5}, {5, 41}, {-1, -1}}) scr_print(T("x"), 7, row, column);
    EXPECT_TRUE(fake::calls.empty()) << "drawn off the screen";

    scr_print(T("Signal"), 0x1E, 3, 5);
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"WriteConsoleOutputAttribute", "WriteConsoleOutputCharacterA"}));
    EXPECT_EQ(text(3, 5, 6), "Signal");
    EXPECT_EQ(fake::console_attr(2, 4), 0x1E);
    fake::calls.clear();
    scr_print(T("Signal"), 0x1E, 3, 5);
    scr_print("", 0x1E, 3, 5);
    EXPECT_EQ(writes(), 0) << "nothing changed";

    // Damage behind the shadow's back shows which cells each call rewrote.
    damage_console();
    scr_print("SignaL", 0x1E, 3, 5);
    EXPECT_EQ(writes(), 2);
    EXPECT_EQ(text(3, 4, 8), "?SignaL?") << "one changed cell rewrites its whole run";
    damage_console();
    scr_print("SignaL", 0x1A, 3, 5);
    EXPECT_EQ(text(3, 5, 6), "SignaL") << "another colour rewrites the characters too";
    EXPECT_EQ(fake::console_attr(2, 9), 0x1A);
}

TEST_F(Screen, TextsFillsAndFormatsStartAtTheirCellAndAreCutAtTheRowsEnd) {
    sized();
    scr_print("XYZ", 0x17, 4, 40);
    EXPECT_EQ(text(4, 40, 1), "X");
    EXPECT_EQ(text(5, 1, 2), "  ") << "wrapped";
    scr_print(T("a text of more than forty characters, cut at the edge"), 0x17, 6, 1);
    EXPECT_EQ(fake::console_line(5), "a text of more than forty characters, cu");
    EXPECT_EQ(text(7, 1, 3), "   ") << "wrapped";

    scr_print(txt_char(219), 0x1E, 2, 1);
    EXPECT_EQ(static_cast<uint8_t>(fake::console_char(1, 0)), 219);
    scr_printf(9, 13, 0x1A, T("%i kHz"), 145);
    EXPECT_EQ(text(9, 13, 7), "145 kHz");

    scr_print("0123456789", 0x17, 1, 1);
    scr_fill(5000, 0x20, 1, 3);
    EXPECT_EQ(fake::console_line(0), "01" + std::string(38, ' '));
    EXPECT_EQ(fake::console_attr(0, 39), 0x20);
    EXPECT_EQ(fake::console_attr(0, 1), 0x17);
    fake::calls.clear();
    scr_fill(0, 0x20, 1, 1);
    scr_fill(-3, 0x20, 1, 1);
    EXPECT_EQ(writes(), 0);
}

TEST_F(Screen, BlinkingCellsAreCountedAsTheyComeAndGo) {
    sized();
    const struct { const char* text; int colour, count; } steps[] = {
        {"steady", 30, 0}, {"alarm!", 0xFF1C, 6}, {"alarm!", -228, 6}, {"al", 0xBB1E, 6}, {"alarm!", 30, 0}};
    for (const auto& s : steps) {
        scr_print(s.text, s.colour, 7, 17);
        EXPECT_EQ(blink_cells.load(), s.count) << s.text << " in " << std::hex << s.colour;
    }
}

TEST_F(Screen, SizingStaysWithinTheLargestWindowAndTheLimitsAndLeavesOnlyBlanksInColour7) {
    // In this order the console shrinks, then grows past its buffer.
    const struct { SHORT largest_cols, largest_rows; int rows, cols, want_rows, want_cols; } cases[] = {
        {150, 50, 20, 40, 20, 40}, {150, 50, 1, 5, 2, 16}, {150, 50, 1000, 2000, 50, 150},
        {150, 50, 50, 150, 50, 150}, {3000, 2000, 1000, 2000, 768, 1024}};
    scr_size(20, 40);
    const int blocks = fake::live_blocks();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << " x " << c.cols << " in " << c.largest_rows << " x "
                                        << c.largest_cols);
        scr_print("blink", 0xFF1C, 1, 1);
        damage_console();
        fake::console.largest = {c.largest_cols, c.largest_rows};
        scr_size(c.rows, c.cols);
        EXPECT_EQ(scr_rows, c.want_rows);
        EXPECT_EQ(scr_cols, c.want_cols);
        EXPECT_EQ(fake::console.size.X, c.want_cols);
        EXPECT_EQ(fake::console.size.Y, c.want_rows);
        EXPECT_EQ(fake::console.window.Right, c.want_cols - 1);
        EXPECT_EQ(fake::console.window.Bottom, c.want_rows - 1);
        EXPECT_EQ(cells_unlike(fake::console.chars, ' '), 0) << "cells not blank";
        EXPECT_EQ(cells_unlike(fake::console.attrs, WORD(7)), 0) << "cells not in colour 7";
        EXPECT_EQ(blink_cells.load(), 0);
        EXPECT_EQ(fake::live_blocks(), blocks) << "the earlier shadow was not given back";
    }
    scr_clear(0x10);
    EXPECT_EQ(cells_unlike(fake::console.attrs, WORD(0x10)), 0) << "cells not cleared in 0x10";
}

TEST(TicketLock, WaitersAreServedInTheOrderOfTheirTicketsAcrossTheWrapAt256) {
    fake::reset();
    TicketLock lock;
    for (int i = 0; i < 254; ++i) {
        ticket_lock(&lock);
        ticket_unlock(&lock);
    }
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
    second.join();
    third.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(lock.now_serving.load(), 1);
    EXPECT_EQ(lock.guard.load(), 0);
}

}  // namespace
