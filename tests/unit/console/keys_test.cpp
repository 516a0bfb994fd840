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
    // The KeyCode and scan code of one key typed with these modifiers.
    static std::pair<int, int> typed(WORD scan, char ch, DWORD state = 0) {
        fake::type_key(scan, ch, state);
        int32_t code = 0;
        int32_t key = key_read(&code);
        EXPECT_EQ(key_read(nullptr), -1) << "the key-up event gave a key";
        return {key, code};
    }
    static int key(WORD scan, char ch, DWORD state = 0) { return typed(scan, ch, state).first; }
};

constexpr DWORD kShift = SHIFT_PRESSED, kCtrl = LEFT_CTRL_PRESSED, kAlt = LEFT_ALT_PRESSED;

TEST_F(Keys, NoEventGivesNoKeyAtOnceAndPollSleeps1Ms) {
    int32_t scan = 99;
    EXPECT_EQ(key_read(&scan), -1);
    EXPECT_EQ(scan, 0);
    EXPECT_TRUE(fake::sleeps.empty());
    EXPECT_EQ(key_poll(), -1);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>{1});
}

TEST_F(Keys, TypedCharactersGiveTheirOwnCodes) {
    EXPECT_EQ(typed(30, 'a'), std::make_pair(97, 30));
    EXPECT_EQ(key(30, 'A', kShift), 65);
    EXPECT_EQ(key(72, '8', NUMLOCK_ON), 56);  // number pad 8 with Num Lock on
    EXPECT_EQ(key(28, '\r'), 13);
    EXPECT_EQ(key(1, 27), 27);
    EXPECT_EQ(key(57, ' '), 32);
    EXPECT_EQ(static_cast<uint8_t>(key(0, static_cast<char>(0x81))), 0x81);  // beyond ASCII, no scan code
}

TEST_F(Keys, LetterRowsByModifier) {
    EXPECT_EQ(key(16, 0), 113);
    EXPECT_EQ(key(16, 0, kShift), 81);
    EXPECT_EQ(key(30, 1, kCtrl), 1);
    EXPECT_EQ(key(30, 'a', kAlt), 286);
    EXPECT_EQ(key(50, 'm', RIGHT_ALT_PRESSED), 306);
    EXPECT_EQ(key(44, 26, RIGHT_CTRL_PRESSED), 26);
}

TEST_F(Keys, FunctionKeys) {
    EXPECT_EQ(typed(59, 0), std::make_pair(315, 59));
    EXPECT_EQ(key(59, 0, kShift), 340);
    EXPECT_EQ(key(59, 0, kCtrl), 350);
    EXPECT_EQ(key(59, 0, kAlt), 360);
    EXPECT_EQ(key(68, 0, kAlt), 369);
    EXPECT_EQ(key(87, 0), 389);
    EXPECT_EQ(key(88, 0), 390);
    EXPECT_EQ(key(88, 0, kShift | kCtrl), 394);  // Ctrl counts before Shift
    EXPECT_EQ(key(88, 0, kShift | kCtrl | kAlt), 396);
}

TEST_F(Keys, CursorBlockAndNumberPadGiveTheSameCodes) {
    EXPECT_EQ(key(72, 0), 328);
    EXPECT_EQ(key(72, 0, ENHANCED_KEY), 328);
    EXPECT_EQ(key(80, 0), 336);
    EXPECT_EQ(key(80, 0, ENHANCED_KEY | kShift), 336);
    EXPECT_EQ(key(72, 0, kCtrl), 397);
    EXPECT_EQ(key(71, 0, kCtrl), 375);
    EXPECT_EQ(key(83, 0), 339);
    EXPECT_EQ(key(74, '-'), 45);
}

TEST_F(Keys, TabEscAndCtrlTwo) {
    EXPECT_EQ(key(15, 9), 9);
    EXPECT_EQ(key(15, 9, kShift), 271);
    EXPECT_EQ(key(15, 0, kCtrl), 404);
    EXPECT_EQ(key(1, 27, kAlt), 283);
    EXPECT_EQ(key(27, ']', kAlt), 283);
    EXPECT_EQ(key(14, 8, kAlt), 270);
    EXPECT_EQ(typed(3, 0, kCtrl), std::make_pair(0, 3));
    EXPECT_EQ(key(53, '/', kCtrl), 405);
}

TEST_F(Keys, AltGrCharactersGiveTheAltColumn) {
    EXPECT_EQ(key(16, '@', RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED), 272);
}

TEST_F(Keys, ModifiersAloneAndUnknownScanCodesAreUsedUp) {
    for (WORD scan : {29, 42, 54, 56, 58, 69, 70, 91, 92, 200}) fake::type_key(scan, 0, 0);
    fake::type_key(30, 'a');
    EXPECT_EQ(key_read(nullptr), 97);
    EXPECT_TRUE(fake::console.input.size() == 1);  // only the last key-up is left
    EXPECT_EQ(key_read(nullptr), -1);
}

TEST_F(Keys, OtherEventsBeforeAKeyAreUsedUpByTheSameCall) {
    INPUT_RECORD size{};
    size.EventType = WINDOW_BUFFER_SIZE_EVENT;
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    fake::console.input = {size, focus, fake::key_event(30, 'a', 0, FALSE), fake::key_event(48, 'b', 0)};
    EXPECT_EQ(key_read(nullptr), 98);
    EXPECT_TRUE(fake::console.input.empty());
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

TEST_F(Keys, WaitTriesEvery2MsUntilAKeyComes) {
    std::thread typist([] {
        while (fake::count("Sleep") < 6) std::this_thread::yield();
        fake::type_key(1, 27);
    });
    EXPECT_EQ(key_wait(), 27);
    typist.join();
    std::vector<DWORD> sleeps = fake::sleeps;
    EXPECT_GE(sleeps.size(), 6u);
    EXPECT_EQ(sleeps.size() % 2, 0u);
    for (DWORD ms : sleeps) EXPECT_EQ(ms, 1u);
}

}  // namespace
