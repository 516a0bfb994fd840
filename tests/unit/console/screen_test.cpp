// The shadow screen over the fake console: what reaches the console, when
// nothing does, colours and blinking cells, sizing, and the ticket lock.
#include <gtest/gtest.h>

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
    int console_calls() {
        return fake::count("WriteConsoleOutputAttribute") + fake::count("WriteConsoleOutputCharacterA");
    }
    std::string row_text(int row, int from, int n) { return fake::console_line(row - 1).substr(from - 1, n); }
};

TEST(ColourCode, ExpandsIntoNormalAndAlternateAttributes) {
    EXPECT_EQ(scr_colour_pair(30), 0x1E1E);
    EXPECT_EQ(scr_colour_pair(0xFF1C), 0x111C);  // vanishes into its blue background
    EXPECT_EQ(scr_colour_pair(0xBB1E), 0xE11E);  // inverse
    EXPECT_EQ(scr_colour_pair(0x4F1E), 0x4F1E);  // taken as it is
    EXPECT_EQ(scr_colour_pair(-228), 0x111C);
    EXPECT_EQ(scr_colour_pair(0x10017), 0x1717);  // only the low 16 bits count
}

TEST_F(Screen, BeforeSizingEveryPositionIsRefused) {
    scr_print(T("x"), 7, 1, 1);
    scr_clear(7);
    EXPECT_TRUE(fake::calls.empty());
}

TEST_F(Screen, PositionsOffTheScreenChangeNothing) {
    sized();
    scr_print(T("x"), 7, 0, 5);
    scr_print(T("x"), 7, 5, 0);
    scr_print(T("x"), 7, 21, 5);
    scr_print(T("x"), 7, 5, 41);
    scr_print(T("x"), 7, -1, -1);
    EXPECT_TRUE(fake::calls.empty());
}

TEST_F(Screen, AChangedRunCostsTwoCallsAndAnUnchangedOneNone) {
    sized();
    scr_print(T("Signal"), 0x1E, 3, 5);
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"WriteConsoleOutputAttribute", "WriteConsoleOutputCharacterA"}));
    EXPECT_EQ(row_text(3, 5, 6), "Signal");
    EXPECT_EQ(fake::console_attr(2, 4), 0x1E);

    fake::calls.clear();
    scr_print(T("Signal"), 0x1E, 3, 5);
    scr_print("", 0x1E, 3, 5);
    EXPECT_EQ(console_calls(), 0);
}

TEST_F(Screen, OneChangedCellRewritesTheWholeRun) {
    sized();
    scr_print("abcdef", 0x1E, 2, 1);
    fake::console.chars[40] = '?';  // damage the console behind the shadow's back
    fake::calls.clear();
    scr_print("abcdeX", 0x1E, 2, 1);
    EXPECT_EQ(console_calls(), 2);
    EXPECT_EQ(row_text(2, 1, 6), "abcdeX");
}

TEST_F(Screen, AnotherColourRewritesCharactersToo) {
    sized();
    scr_print("abc", 0x1E, 2, 1);
    fake::console.chars[40] = '?';
    scr_print("abc", 0x1A, 2, 1);
    EXPECT_EQ(row_text(2, 1, 3), "abc");
    EXPECT_EQ(fake::console_attr(1, 2), 0x1A);
}

TEST_F(Screen, TextIsCutAtTheRowsEndAndNeverWraps) {
    sized();
    scr_print("XYZ", 0x17, 4, 40);
    EXPECT_EQ(row_text(4, 40, 1), "X");
    EXPECT_EQ(row_text(5, 1, 2), "  ");
    scr_print(T("a text of more than forty characters, cut at the edge"), 0x17, 6, 1);
    EXPECT_EQ(fake::console_line(5), "a text of more than forty characters, cu");
    EXPECT_EQ(row_text(7, 1, 3), "   ");
}

TEST_F(Screen, AOneCharacterValueDrawsThatCharacter) {
    sized();
    scr_print(txt_char(219), 0x1E, 1, 1);
    EXPECT_EQ(static_cast<uint8_t>(fake::console_char(0, 0)), 219);
}

TEST_F(Screen, FillIsCappedAt1024AndThenAtTheRow) {
    sized();
    scr_print("0123456789", 0x17, 1, 1);
    scr_fill(5000, 0x20, 1, 3);
    EXPECT_EQ(fake::console_line(0), "01" + std::string(38, ' '));
    EXPECT_EQ(fake::console_attr(0, 39), 0x20);
    EXPECT_EQ(fake::console_attr(0, 1), 0x17);
    fake::calls.clear();
    scr_fill(0, 0x20, 1, 1);
    scr_fill(-3, 0x20, 1, 1);
    EXPECT_EQ(console_calls(), 0);
}

TEST_F(Screen, BlinkingCellsAreCountedAsTheyComeAndGo) {
    sized();
    scr_print("steady", 30, 7, 17);
    EXPECT_EQ(blink_cells.load(), 0);
    scr_print("alarm!", 0xFF1C, 7, 17);
    EXPECT_EQ(blink_cells.load(), 6);
    scr_print("alarm!", -228, 7, 17);  // the same ColourCode written negatively
    EXPECT_EQ(blink_cells.load(), 6);
    scr_print("al", 0xBB1E, 7, 17);    // blinking to blinking: no change in count
    EXPECT_EQ(blink_cells.load(), 6);
    scr_print("alarm!", 30, 7, 17);
    EXPECT_EQ(blink_cells.load(), 0);
}

TEST_F(Screen, MinusAndPlainColourCodesDrawIdentically) {
    sized();
    scr_print("x", -228, 1, 1);
    fake::calls.clear();
    scr_print("x", 0xFF1C, 1, 1);
    EXPECT_EQ(console_calls(), 0);
}

TEST_F(Screen, TextDrawnInTheAlternatePhaseGoesOutInIt) {
    sized();
    blink_phase = 1;
    scr_print("inv", 0xBB1E, 1, 1);
    scr_print("plain", 0x1A, 2, 1);
    EXPECT_EQ(fake::console_attr(0, 0), 0xE1);
    EXPECT_EQ(fake::console_attr(1, 0), 0x1A);
}

TEST_F(Screen, PrintfTakesThePositionFirst) {
    sized();
    scr_printf(9, 13, 0x1A, T("%i kHz"), 145);
    EXPECT_EQ(row_text(9, 13, 7), "145 kHz");
}

TEST_F(Screen, SizingWithinTheLargestWindow) {
    struct Case {
        int rows, cols, want_rows, want_cols;
    } cases[] = {{20, 40, 20, 40}, {1, 5, 2, 16}, {1000, 2000, 50, 150}, {50, 150, 50, 150}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << " x " << c.cols);
        scr_size(c.rows, c.cols);
        EXPECT_EQ(scr_rows, c.want_rows);
        EXPECT_EQ(scr_cols, c.want_cols);
        // The console followed, shrinking and growing alike.
        EXPECT_EQ(fake::console.size.X, c.want_cols);
        EXPECT_EQ(fake::console.size.Y, c.want_rows);
        EXPECT_EQ(fake::console.window.Right, c.want_cols - 1);
        EXPECT_EQ(fake::console.window.Bottom, c.want_rows - 1);
    }
}

TEST_F(Screen, SizingNeverExceeds768RowsOr1024Columns) {
    fake::console.largest = {3000, 2000};
    scr_size(1000, 2000);
    EXPECT_EQ(scr_rows, 768);
    EXPECT_EQ(scr_cols, 1024);
}

TEST_F(Screen, SizingLeavesEveryCellBlankInColour7AndNothingBlinking) {
    scr_size(20, 40);
    scr_print("blink", 0xFF1C, 1, 1);
    fake::console.chars.assign(fake::console.chars.size(), '#');
    int blocks = fake::live_blocks();
    scr_size(20, 40);
    EXPECT_EQ(fake::live_blocks(), blocks);  // the earlier shadow was given back
    EXPECT_EQ(blink_cells.load(), 0);
    for (int r = 0; r < 20; ++r) {
        EXPECT_EQ(fake::console_line(r), std::string(40, ' '));
        for (int c = 0; c < 40; ++c) ASSERT_EQ(fake::console_attr(r, c), 7);
    }
}

TEST_F(Screen, ClearWritesEveryRow) {
    sized();
    scr_clear(0x10);
    EXPECT_EQ(fake::count("WriteConsoleOutputCharacterA"), 20);
    EXPECT_EQ(fake::console_attr(19, 39), 0x10);
    EXPECT_EQ(fake::console_attr(0, 0), 0x10);
}

TEST(TicketLock, WaitersAreServedInTheOrderOfTheirTickets) {
    fake::reset();
    TicketLock lock;
    std::vector<int> order;
    ticket_lock(&lock);
    auto waiter = [&](int id) {
        ticket_lock(&lock);
        order.push_back(id);  // guarded by the lock itself
        ticket_unlock(&lock);
    };
    std::thread second(waiter, 2);
    while (lock.next_ticket.load() != 2) std::this_thread::yield();
    std::thread third(waiter, 3);
    while (lock.next_ticket.load() != 3) std::this_thread::yield();
    order.push_back(1);
    ticket_unlock(&lock);
    second.join();
    third.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(lock.now_serving.load(), 3);
    EXPECT_EQ(lock.guard.load(), 0);
}

TEST(TicketLock, TicketsWrapAt256) {
    fake::reset();
    TicketLock lock;
    for (int i = 0; i < 300; ++i) {
        ticket_lock(&lock);
        ticket_unlock(&lock);
    }
    EXPECT_EQ(lock.next_ticket.load(), 300 % 256);
    EXPECT_EQ(fake::count("Sleep"), 0);  // never waited, since nobody else held it
}

}  // namespace
