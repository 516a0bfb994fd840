// The screen and keys in the Windows build, against a real Windows console
// (wine's, in a terminal). console_screen.sh runs it inside tmux and types
// the keys that the last test waits for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/keys.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "runtime/txt.h"

namespace {

std::string console_text(int row, int column, int n) {
    std::string s(static_cast<size_t>(n), '\0');
    DWORD got = 0;
    ReadConsoleOutputCharacterA(scr_out, s.data(), static_cast<DWORD>(n),
                                COORD{static_cast<SHORT>(column - 1), static_cast<SHORT>(row - 1)}, &got);
    s.resize(got);
    return s;
}

WORD console_attr(int row, int column) {
    WORD a = 0;
    DWORD got = 0;
    ReadConsoleOutputAttribute(scr_out, &a, 1, COORD{static_cast<SHORT>(column - 1), static_cast<SHORT>(row - 1)},
                               &got);
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

TEST_F(Console, TheScreenIsSizedWithinTheLimits) {
    EXPECT_GE(scr_rows, 2);
    EXPECT_LE(scr_rows, 20);
    EXPECT_GE(scr_cols, 16);
    EXPECT_LE(scr_cols, 40);
    CONSOLE_CURSOR_INFO cursor{};
    ASSERT_TRUE(GetConsoleCursorInfo(scr_out, &cursor));
    EXPECT_FALSE(cursor.bVisible);
}

TEST_F(Console, DrawnTextAndColoursReachTheConsole) {
    scr_print("Signal", 0x1E, 2, 3);
    scr_print(T("cut at the edge of the screen, forty columns"), 0x1A, 3, 1);
    EXPECT_EQ(console_text(2, 3, 6), "Signal");
    EXPECT_EQ(console_attr(2, 3), 0x1E);
    EXPECT_EQ(console_text(3, 1, scr_cols), std::string("cut at the edge of the screen, forty columns").substr(0, scr_cols));
    std::string block(1, static_cast<char>(219));
    scr_print(block.c_str(), 0x1E, 4, 1);
    EXPECT_EQ(console_text(4, 1, 1), block);
}

TEST_F(Console, BlinkingTextVanishesForAboutAThirdOfEachSecond) {
    scr_print("BLINK", 0xFF1C, 5, 1);
    int vanished = 0, shown = 0;
    for (int i = 0; i < 150; ++i) {
        WORD a = console_attr(5, 1);
        if (a == 0x11) ++vanished;
        else if (a == 0x1C) ++shown;
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
    const int expected[] = {97, 65, 328, 336, 315, 13, 27};
    for (int want : expected) EXPECT_EQ(key_wait(), want);
    scr_print("KEYS DONE     ", 0x1F, 10, 1);
}

TEST(Restore, GivesBackSizeContentsAndCursor) {
    HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    CONSOLE_SCREEN_BUFFER_INFO before{}, after{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(out, &before));
    int n = before.dwSize.X * before.dwSize.Y;
    std::vector<char> chars_before(static_cast<size_t>(n)), chars_after(static_cast<size_t>(n));
    DWORD got = 0;
    ReadConsoleOutputCharacterA(out, chars_before.data(), static_cast<DWORD>(n), COORD{0, 0}, &got);
    CONSOLE_CURSOR_INFO cursor_before{}, cursor_after{};
    GetConsoleCursorInfo(out, &cursor_before);

    scr_open(1, 20, 40);
    scr_clear(0x10);
    scr_print("taken over", 0x1E, 1, 1);
    scr_restore();

    ASSERT_TRUE(GetConsoleScreenBufferInfo(out, &after));
    EXPECT_EQ(after.dwSize.X, before.dwSize.X);
    EXPECT_EQ(after.dwSize.Y, before.dwSize.Y);
    EXPECT_EQ(after.dwCursorPosition.X, before.dwCursorPosition.X);
    EXPECT_EQ(after.dwCursorPosition.Y, before.dwCursorPosition.Y);
    EXPECT_EQ(after.wAttributes, before.wAttributes);
    ReadConsoleOutputCharacterA(out, chars_after.data(), static_cast<DWORD>(n), COORD{0, 0}, &got);
    EXPECT_TRUE(chars_after == chars_before);
    GetConsoleCursorInfo(out, &cursor_after);
    EXPECT_EQ(cursor_after.bVisible, cursor_before.bVisible);
    EXPECT_EQ(cursor_after.dwSize, cursor_before.dwSize);
}

}  // namespace
