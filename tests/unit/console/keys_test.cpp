// Console input events as KeyCodes over the fake console's input queue, the
// push-back queue in front of it, and page memory with its retries.
#include <gtest/gtest.h>

#include <thread>

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
        {30, 'a', 0, 97}, {30, 'A', kShift, 65}, {0, char(0x81), 0, 0x81}, {15, 9, kShift, 271}, {16, 0, 0, 113},
        {16, 0, kShift, 81}, {30, 1, kCtrl, 1}, {30, 'a', kAlt, 286}, {50, 'm', RIGHT_ALT_PRESSED, 306},
        {44, 26, RIGHT_CTRL_PRESSED, 26}, {16, '@', RIGHT_ALT_PRESSED | kCtrl, 272}, {88, 0, kShift | kCtrl, 394},
        {88, 0, kShift | kCtrl | kAlt, 396}, {72, 0, ENHANCED_KEY, 328}, {3, 0, kCtrl, 0}, {74, '-', 0, 45},
        {29, 0, 0, -1}, {91, 0, 0, -1}, {92, 0, kAlt, -1}, {200, 0, 0, -1}};
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

TEST_F(Keys, QueuedKeysComeFirstAndTheQueueHolds256) {
    fake::type_key(30, 'a');
    for (int i = 0; i < 256; ++i) ASSERT_EQ(key_push(1000 + i, i + 1), 0);
    EXPECT_EQ(key_push(5, 5), 1);
    int32_t scan = 0;
    EXPECT_EQ(key_read(&scan), 1000);
    EXPECT_EQ(scan, 1);
    EXPECT_EQ(key_push(7, 8), 0);  // the freed slot is the last one
    for (int i = 1; i < 256; ++i) ASSERT_EQ(key_read(nullptr), 1000 + i);
    EXPECT_EQ(key_read(&scan), 7);
    EXPECT_EQ(scan, 8);
    EXPECT_EQ(key_read(nullptr), 97);
}

TEST_F(Keys, ReadNeverWaitsPollWaits1MsAndWaitTriesUntilAKeyComes) {
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
    EXPECT_EQ(fake::sleeps.size() % 2, 1u) << "not 2 ms for every try";
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>(fake::sleeps.size(), 1));
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

TEST(Scratch, ChunksFollowEachOtherAndWrapBeforeTheEnd) {
    fake::reset();
    std_init(1);
    scratch_reset();
    auto* a = static_cast<char*>(scratch_alloc(40000));
    EXPECT_EQ(scratch_alloc(20000), a + 40000);
    EXPECT_EQ(scratch_alloc(40000), a) << "would end exactly at the end";
    EXPECT_EQ(scratch_alloc(kScratchSize), a);
    EXPECT_THROW(scratch_alloc(kScratchSize + 1), fake::Exit);
    EXPECT_THROW(scratch_alloc(-1), fake::Exit);
}

}  // namespace
