// Console input events as KeyCodes, over the fake console's input queue,
// and the push-back queue in front of it.
#include <gtest/gtest.h>

#include <thread>

#include "console/keys.h"
#include "runtime/out.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"

namespace {

class Keys : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        std_init(1);
        while (key_read(nullptr) != -1) {
        }
        fake::calls.clear();
    }
};

constexpr DWORD kShift = SHIFT_PRESSED, kCtrl = LEFT_CTRL_PRESSED, kAlt = LEFT_ALT_PRESSED;

// Typed characters, which bypass the key table, and each kind of its rows.
TEST_F(Keys, EachKeyDownGivesItsKeyCodeAndScanCodeInOneCallAndItsKeyUpNothing) {
    // want -1: the key gives nothing.
    const struct { const char* key; WORD scan; char ch; DWORD state; int want; } cases[] = {
        {"a", 30, 'a', 0, 97}, {"Shift+A", 30, 'A', kShift, 65}, {"pad 8, Num Lock on", 72, '8', NUMLOCK_ON, 56},
        {"beyond ASCII", 0, static_cast<char>(0x81), 0, 0x81}, {"Shift+Tab", 15, 9, kShift, 271},
        // Letter rows, by modifier; AltGr is Alt and Ctrl.
        {"Q", 16, 0, 0, 113}, {"Shift+Q", 16, 0, kShift, 81}, {"Ctrl+A", 30, 1, kCtrl, 1},
        {"Alt+A", 30, 'a', kAlt, 286}, {"right Alt+M", 50, 'm', RIGHT_ALT_PRESSED, 306},
        {"right Ctrl+Z", 44, 26, RIGHT_CTRL_PRESSED, 26},
        {"AltGr+Q", 16, '@', RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED, 272},
        // F1 to F10.
        {"F1", 59, 0, 0, 315}, {"Shift+F1", 59, 0, kShift, 340}, {"Ctrl+F1", 59, 0, kCtrl, 350},
        {"Alt+F1", 59, 0, kAlt, 360}, {"Alt+F10", 68, 0, kAlt, 369},
        // The rows listed one by one; Ctrl counts before Shift, Alt before both.
        {"F12", 88, 0, 0, 390}, {"Ctrl+Shift+F12", 88, 0, kShift | kCtrl, 394},
        {"Ctrl+Shift+Alt+F12", 88, 0, kShift | kCtrl | kAlt, 396}, {"Up", 72, 0, 0, 328},
        {"Up, cursor block", 72, 0, ENHANCED_KEY, 328}, {"Shift+Down", 80, 0, ENHANCED_KEY | kShift, 336},
        {"Ctrl+Up", 72, 0, kCtrl, 397}, {"Ctrl+Tab", 15, 0, kCtrl, 404}, {"Alt+Esc", 1, 27, kAlt, 283},
        {"Ctrl+2", 3, 0, kCtrl, 0}, {"F11", 87, 0, 0, 389}, {"Ctrl+Home", 71, 0, kCtrl, 375}, {"Delete", 83, 0, 0, 339},
        {"pad -", 74, '-', 0, 45}, {"Ctrl+pad *", 55, '*', kCtrl, 406}, {"Alt+]", 27, ']', kAlt, 283},
        {"Alt+Backspace", 14, 8, kAlt, 270}, {"Shift+2", 3, 0, kShift, 64}, {"Alt+1", 2, '1', kAlt, 376},
        {"Ctrl+/", 53, '/', kCtrl, 405}, {"Alt+Space", 57, ' ', kAlt, 32},
        // Rows of zeros (modifiers and locks alone) and scan codes beyond the table.
        {"Ctrl", 29, 0, 0, -1}, {"left Shift", 42, 0, 0, -1}, {"right Shift", 54, 0, 0, -1}, {"Alt", 56, 0, 0, -1},
        {"Caps Lock", 58, 0, 0, -1}, {"Num Lock", 69, 0, 0, -1}, {"Scroll Lock", 70, 0, 0, -1},
        {"scan 92", 92, 0, kAlt, -1}, {"scan 200", 200, 0, 0, -1}};
    INPUT_RECORD resize{};
    resize.EventType = WINDOW_BUFFER_SIZE_EVENT;
    for (const auto& c : cases) {
        fake::console.input.push_back(resize);  // used up by the same call as the key behind it
        fake::type_key(c.scan, c.ch, c.state);
        int32_t scan = -5;
        EXPECT_EQ(key_read(&scan), c.want) << c.key;
        EXPECT_EQ(scan, c.want == -1 ? 0 : c.scan) << c.key;
        EXPECT_EQ(key_read(nullptr), -1) << c.key << ": the key-up gave a key";
    }
}

TEST_F(Keys, QueuedKeysComeFirstAndTheQueueHolds256) {
    fake::type_key(30, 'a');
    EXPECT_EQ(key_push(328, 72), 0);
    int32_t scan = 0;
    EXPECT_EQ(key_read(&scan), 328);
    EXPECT_EQ(scan, 72);
    EXPECT_EQ(key_read(nullptr), 97);

    for (int i = 0; i < 256; ++i) ASSERT_EQ(key_push(1000 + i, i + 1), 0);
    EXPECT_EQ(key_push(5, 5), 1);
    EXPECT_EQ(key_read(nullptr), 1000);
    EXPECT_EQ(key_push(7, 8), 0);  // the freed slot is the last one
    for (int i = 1; i < 256; ++i) ASSERT_EQ(key_read(nullptr), 1000 + i);
    EXPECT_EQ(key_read(&scan), 7);
    EXPECT_EQ(scan, 8);
    EXPECT_EQ(key_read(nullptr), -1);
}

TEST_F(Keys, ReadNeverWaitsPollWaits1MsAndWaitTriesEvery2MsUntilAKeyComes) {
    int32_t scan = 99;
    EXPECT_EQ(key_read(&scan), -1);
    EXPECT_EQ(scan, 0);
    EXPECT_TRUE(fake::sleeps.empty());
    EXPECT_EQ(key_poll(), -1);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>{1});

    std::thread typist([] {
        while (fake::count("Sleep") < 7) std::this_thread::yield();
        fake::type_key(1, 27);
    });
    EXPECT_EQ(key_wait(), 27);
    typist.join();
    std::vector<DWORD> sleeps = fake::sleeps;
    EXPECT_GE(sleeps.size(), 7u);
    EXPECT_EQ(sleeps.size() % 2, 1u) << "not 2 ms for every try";
    for (DWORD ms : sleeps) EXPECT_EQ(ms, 1u);
}

}  // namespace
