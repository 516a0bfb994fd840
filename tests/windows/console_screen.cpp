// The screen and keys in the Windows build, against a real Windows console
// (wine's, in a terminal). console_screen.sh runs it inside tmux and types
// the keys that the last test waits for.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "console/keys.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "runtime/txt.h"

namespace {

COORD at(int row, int column) { return COORD{static_cast<SHORT>(column - 1), static_cast<SHORT>(row - 1)}; }

std::string console_text(HANDLE out, int row, int column, int n) {
    std::string s(static_cast<size_t>(n), '\0');
    DWORD got = 0;
    ReadConsoleOutputCharacterA(out, s.data(), static_cast<DWORD>(n), at(row, column), &got);
    s.resize(got);
    return s;
}

WORD console_attr(int row, int column) {
    WORD a = 0;
    DWORD got = 0;
    ReadConsoleOutputAttribute(scr_out, &a, 1, at(row, column), &got);
    return a;
}

class Console : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std_init(1);
        scr_open(1, 20, 40);
    }
    static void TearDownTestSuite() { scr_restore(); }
};

TEST_F(Console, TheSizedScreenHidesTheCursorAndShowsTextAndColoursAsDrawn) {
    EXPECT_GE(scr_rows, 2);
    EXPECT_LE(scr_rows, 20);
    EXPECT_GE(scr_cols, 16);
    EXPECT_LE(scr_cols, 40);
    CONSOLE_CURSOR_INFO cursor{};
    ASSERT_TRUE(GetConsoleCursorInfo(scr_out, &cursor));
    EXPECT_FALSE(cursor.bVisible);

    const std::string long_text = "cut at the edge of the screen, forty columns";
    scr_print("Signal", 0x1E, 2, 3);
    scr_print(T("cut at the edge of the screen, forty columns"), 0x1A, 3, 1);
    scr_print(txt_char(219), 0x1E, 4, 1);
    EXPECT_EQ(console_text(scr_out, 2, 3, 6), "Signal");
    EXPECT_EQ(console_attr(2, 3), 0x1E);
    EXPECT_EQ(console_text(scr_out, 3, 1, scr_cols), long_text.substr(0, scr_cols));
    EXPECT_EQ(console_text(scr_out, 4, 1, 1), std::string(1, static_cast<char>(219)));
}

TEST_F(Console, BlinkingTextVanishesForAboutAThirdOfEachSecond) {
    scr_print("BLINK", 0xFF1C, 5, 1);
    int vanished = 0, shown = 0;
    for (int i = 0; i < 150; ++i) {
        WORD a = console_attr(5, 1);
        vanished += a == 0x11;
        shown += a == 0x1C;
        Sleep(20);
    }
    int total = vanished + shown;
    EXPECT_GE(total, 140);
    EXPECT_GT(vanished, total * 15 / 100) << vanished << " of " << total;
    EXPECT_LT(vanished, total * 45 / 100) << vanished << " of " << total;
    scr_print("BLINK", 0x1C, 5, 1);
}

TEST_F(Console, KeysArriveAsKeyCodes) {
    scr_print("READY FOR KEYS", 0x1F, 10, 1);
    for (int want : {97, 65, 328, 336, 315, 13, 27}) EXPECT_EQ(key_wait(), want);
    scr_print("KEYS DONE     ", 0x1F, 10, 1);
}

// The console's size, cursor, text colour and every character, in one line.
std::string console_state(HANDLE out) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    CONSOLE_CURSOR_INFO cursor{};
    EXPECT_TRUE(GetConsoleScreenBufferInfo(out, &info));
    EXPECT_TRUE(GetConsoleCursorInfo(out, &cursor));
    std::ostringstream s;
    s << "buffer " << info.dwSize.X << "x" << info.dwSize.Y << ", cursor at " << info.dwCursorPosition.X << ","
      << info.dwCursorPosition.Y << " size " << cursor.dwSize << (cursor.bVisible ? " shown" : " hidden")
      << ", text in " << info.wAttributes << ": " << console_text(out, 1, 1, info.dwSize.X * info.dwSize.Y);
    return s.str();
}

TEST(Restore, GivesBackSizeContentsAndCursor) {
    HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    const std::string before = console_state(out);
    scr_open(1, 20, 40);
    scr_clear(0x10);
    scr_print("taken over", 0x1E, 1, 1);
    scr_restore();
    EXPECT_EQ(console_state(out), before);
}

}  // namespace
