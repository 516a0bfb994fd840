// Taking over and giving back the fake console, the cursor, and the blink
// thread. The fake's Sleep does not wait, so the thread runs its cycles as
// fast as it can; the tests wait for a number of its sleeps instead of time.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "console/screen.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"

namespace {

class Takeover : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        scr_out = fake::console_output;  // as if a previous take-over had opened it
        scr_rows = scr_cols = 0;
        blink_phase = 0;
    }
    void TearDown() override { scr_restore(); }

    // Lets the blink thread run at least this many full cycles.
    static void let_blink(int cycles) {
        int start = fake::count("Sleep");
        while (fake::count("Sleep") < start + 2 * cycles + 1) std::this_thread::yield();
    }
    static int attribute_writes() { return fake::count("WriteConsoleOutputAttribute"); }
};

// Everything of the console but its cells, in one comparable line.
std::string settings(const fake::Console& c) {
    std::ostringstream s;
    s << "buffer " << c.size.X << "x" << c.size.Y << ", window " << c.window.Left << "," << c.window.Top << "-"
      << c.window.Right << "," << c.window.Bottom << ", cursor at " << c.cursor.X << "," << c.cursor.Y << " size "
      << c.cursor_info.dwSize << (c.cursor_info.bVisible ? " shown" : " hidden") << ", text in " << c.text_attribute;
    return s.str();
}

TEST_F(Takeover, OpenAndRestoreGiveTheConsoleBackAsItWas) {
    fake::console_setup(100, 30);
    for (size_t i = 0; i < fake::console.chars.size(); ++i) {
        fake::console.chars[i] = static_cast<char>('A' + i % 26);
        fake::console.attrs[i] = static_cast<WORD>(i % 256);
    }
    fake::console.window = {0, 5, 79, 29};
    fake::console.cursor = {70, 25};  // outside the 40 x 20 screen, which moves it
    fake::console.text_attribute = 0x1F;
    fake::console.cursor_info = {50, TRUE};
    const fake::Console before = fake::console;

    scr_open(1, 20, 40);
    EXPECT_EQ(fake::console.size.X, 40);
    EXPECT_EQ(fake::console.size.Y, 20);
    EXPECT_FALSE(fake::console.cursor_info.bVisible);
    EXPECT_NE(blink_thread.load(), nullptr);
    scr_print("blinking", 0xFF1C, 3, 3);
    let_blink(2);
    scr_restore();

    EXPECT_EQ(blink_thread.load(), nullptr);
    EXPECT_EQ(blink_stop.load(), 0);
    EXPECT_EQ(saved_cells, nullptr);
    EXPECT_EQ(settings(fake::console), settings(before));
    EXPECT_EQ(fake::console.chars, before.chars);
    EXPECT_EQ(fake::console.attrs, before.attrs);
}

TEST_F(Takeover, WithoutSaveZeroRowsTakeThePresentBufferAndRestoreOnlyStopsTheThread) {
    scr_restore();
    EXPECT_TRUE(fake::calls.empty()) << "restored what was never opened";
    fake::console_setup(200, 100);
    scr_open(0, 0, 40);
    EXPECT_EQ(scr_rows, 50);  // within the largest window, 150 x 50
    EXPECT_EQ(scr_cols, 150);
    scr_print("kept", 0x1E, 1, 1);
    const std::string taken_over = settings(fake::console);
    scr_restore();
    EXPECT_EQ(blink_thread.load(), nullptr);
    EXPECT_EQ(settings(fake::console), taken_over);
    EXPECT_EQ(fake::console_line(0).substr(0, 4), "kept");
}

TEST_F(Takeover, TheThreadShowsBlinkingCellsInTheAlternatePhaseFor300MsOfEachSecondAndIsSilentWithoutThem) {
    scr_open(0, 20, 40);
    scr_print("steady", 0x1E, 1, 1);
    int before = attribute_writes();
    let_blink(5);
    EXPECT_EQ(attribute_writes(), before) << "a console call with nothing blinking";

    scr_print("alarm", 0xFF1C, 2, 1);
    scr_print("alarm", 0xFF1C, 4, 1);
    before = attribute_writes();
    let_blink(3);
    scr_restore();
    // One call per blinking run and phase: two rows, both phases, per cycle.
    EXPECT_GE(attribute_writes() - before, 3 * 4);
    EXPECT_EQ(blink_phase, 0) << "the thread ended in the alternate phase";
    EXPECT_EQ(fake::console_attr(1, 0), 0x1C);
    std::vector<DWORD> phases;  // without the 1 ms waits for the lock and for the thread's end
    for (DWORD ms : fake::sleeps)
        if (ms != 1) phases.push_back(ms);
    phases.resize(4);
    EXPECT_EQ(phases, (std::vector<DWORD>{300, 700, 300, 700}));
}

TEST_F(Takeover, DrawingWhileBlinkingEndsWithTheShadowOnTheConsole) {
    scr_open(0, 20, 40);
    char text[41] = {};
    for (int i = 0; i < 3000; ++i) {
        for (int c = 0; c < 40; ++c) text[c] = static_cast<char>('a' + (i + c) % 26);
        scr_print(text, i % 3 == 0 ? 0xFF1C : i % 3 == 1 ? 0xBB1E : 0x1A, 1 + i % 20, 1);
    }
    scr_restore();
    for (int cell = 0; cell < 20 * 40; ++cell) {
        ASSERT_EQ(fake::console.chars[static_cast<size_t>(cell)], scr_chars[cell]) << cell;
        ASSERT_EQ(fake::console.attrs[static_cast<size_t>(cell)], scr_attrs[cell] & 0xFF) << cell;
    }
}

// scr_show_phase on its own, without the thread.
TEST_F(Takeover, APhaseWritesOnlyBlinkingRunsNeverAcrossARowAndTakesAlongWhatIsDrawnDuringIt) {
    scr_size(20, 40);
    scr_print("tail", 0xFF1C, 1, 37);  // the last four cells of row 1 ...
    scr_print("head", 0xFF1C, 2, 1);   // ... and the first four of row 2
    scr_print("steady", 0x1E, 3, 1);
    fake::calls.clear();
    scr_show_phase(0);
    EXPECT_EQ(attribute_writes(), 2);
    EXPECT_EQ(fake::count("WriteConsoleOutputCharacterA"), 0);
    EXPECT_EQ(blink_phase, 1);
    EXPECT_EQ(fake::console_attr(0, 36), 0x11);
    EXPECT_EQ(fake::console_attr(1, 0), 0x11);
    EXPECT_EQ(fake::console_attr(1, 3), 0x11);
    EXPECT_EQ(fake::console_attr(1, 4), 7);
    EXPECT_EQ(fake::console_attr(2, 0), 0x1E);
    scr_print("inv", 0xBB1E, 5, 1);
    EXPECT_EQ(fake::console_attr(4, 0), 0xE1);
    scr_show_phase(1);
    EXPECT_EQ(blink_phase, 0);
    EXPECT_EQ(fake::console_attr(0, 39), 0x1C);
    EXPECT_EQ(fake::console_attr(4, 0), 0x1E);
}

TEST_F(Takeover, CursorShapes) {
    const struct { int shape; DWORD size; BOOL visible; } cases[] = {
        {1, 20, TRUE}, {2, 50, TRUE}, {3, 100, TRUE}, {4, 1, FALSE}, {0, 1, FALSE}, {-1, 1, FALSE},
        {0x10002, 50, TRUE}};  // only the low 16 bits count
    for (const auto& c : cases) {
        scr_cursor(c.shape);
        EXPECT_EQ(fake::console.cursor_info.dwSize, c.size) << c.shape;
        EXPECT_EQ(fake::console.cursor_info.bVisible, c.visible) << c.shape;
    }
}

}  // namespace
