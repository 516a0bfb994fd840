// Page memory and the scratch arena over the fake: rounding, the retries
// with their pauses (counted, never waited for), and the fatal stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/mem.h"
#include "runtime/out.h"
#include "tests/fake/fake.h"

namespace {

class PageMemory : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        page_size = 0;
        std_init(1);
    }
    std::string err() { return fake::written[std_err]; }
};

TEST_F(PageMemory, RequestsAreRoundedToWholePagesAndThePageSizeIsReadOnce) {
    void* a = mem_alloc(1);
    void* b = mem_alloc(4096);
    void* c = mem_alloc(4097);
    EXPECT_EQ(fake::alloc_sizes, (std::vector<SIZE_T>{4096, 4096, 8192}));
    EXPECT_EQ(fake::count("GetSystemInfo"), 1);
    EXPECT_EQ(mem_free(a), 0);
    EXPECT_EQ(mem_free(b), 0);
    EXPECT_EQ(mem_free(c), 0);
    EXPECT_EQ(fake::live_blocks(), 0);
}

TEST_F(PageMemory, ARefusalIsRetriedAfter500And1000And2000Ms) {
    int refusals = 2;
    fake::virtual_alloc_refuses = [&](SIZE_T) { return refusals-- > 0; };
    void* p = mem_alloc(100);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{500, 1000}));
    mem_free(p);
}

TEST_F(PageMemory, FourRefusalsStopTheProgramWithBothSizes) {
    fake::virtual_alloc_refuses = [](SIZE_T) { return true; };
    try {
        mem_alloc(5000);
        FAIL() << "mem_alloc returned without memory";
    } catch (const fake::Exit& e) {
        EXPECT_EQ(e.code, 1);
    }
    EXPECT_EQ(fake::count("VirtualAlloc"), 4);
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{500, 1000, 2000}));
    EXPECT_NE(err().find("5000"), std::string::npos) << err();
    EXPECT_NE(err().find("8192"), std::string::npos) << err();
}

TEST_F(PageMemory, ZeroBytesRoundToZeroWhichTheSystemRefuses) {
    EXPECT_THROW(mem_alloc(0), fake::Exit);
    EXPECT_EQ(fake::count("VirtualAlloc"), 4);
}

TEST_F(PageMemory, ReleasingAForeignAddressStops) {
    int local;
    EXPECT_THROW(mem_free(&local), fake::Exit);
    char address[32];
    fmt_format(address, "%~x", static_cast<const void*>(&local));
    EXPECT_NE(err().find(address), std::string::npos) << err();
}

TEST(Scratch, ChunksFollowEachOtherAndWrapBeforeTheEnd) {
    scratch_reset();
    auto* a = static_cast<char*>(scratch_alloc(10));
    auto* b = static_cast<char*>(scratch_alloc(20));
    EXPECT_EQ(b, a + 10);

    scratch_reset();
    auto* first = static_cast<char*>(scratch_alloc(60000));
    auto* second = static_cast<char*>(scratch_alloc(50000));
    EXPECT_EQ(second, first);  // overlaps the first

    scratch_reset();
    first = static_cast<char*>(scratch_alloc(40000));
    second = static_cast<char*>(scratch_alloc(60000));  // would end exactly at the end
    EXPECT_EQ(second, first);
    auto* whole = static_cast<char*>(scratch_alloc(kScratchSize));
    EXPECT_EQ(whole, first);
}

TEST(Scratch, ARequestLargerThanTheArenaStops) {
    fake::reset();
    std_init(1);
    scratch_reset();
    EXPECT_THROW(scratch_alloc(kScratchSize + 1), fake::Exit);
    EXPECT_THROW(scratch_alloc(-1), fake::Exit);
    EXPECT_NE(fake::written[std_err].find("100001"), std::string::npos);
}

}  // namespace
