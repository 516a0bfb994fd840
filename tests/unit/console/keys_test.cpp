// Console input events as KeyCodes over the fake console's input queue, the
// push-back queue in front of it, and page memory with its retries.
#include <gtest/gtest.h>

#include "console/keys.h"
#include "console/mem.h"
#include "runtime/out.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"

namespace {

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
