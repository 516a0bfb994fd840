// Readings that only a garbled line gives, found by fuzzing the polling
// cycle: they draw as the farthest readings do, and nothing overflows.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/monitor.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"

namespace {

const std::string kFull(1, static_cast<char>(219));

class GarbledReadings : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        std_init(1);
        scr_out = fake::console_output;
        scr_size(20, 40);
        scr_clear(0x10);
        mon.model_a = 0;
        mon.model_b = 1;
    }
    std::string text(int row, int column, int n) { return fake::console_line(row - 1).substr(column - 1, n); }
    static std::string blocks(int n) {
        std::string r;
        for (int i = 0; i < n; ++i) r += kFull;
        return r;
    }
};

TEST_F(GarbledReadings, TuningReadingsAtTheEndsOfTheRangeDrawTheFullBar) {
    // 100 - INT_MIN does not fit 32 bits: the distance once wrapped round to
    // a negative one and drew no bar at all.
    draw_tuning_panel(INT_MIN, 1462500);
    EXPECT_EQ(text(13, 2, 19), blocks(18) + "|");
    EXPECT_EQ(text(11, 15, 26), std::string(26, ' '));  // no offset estimate that far off
    draw_tuning_panel(INT_MIN + 50, 1462500);
    EXPECT_EQ(text(13, 2, 19), blocks(18) + "|");
    draw_tuning_panel(INT_MAX, 1462500);
    EXPECT_EQ(text(13, 21, 18), blocks(18));
}

}  // namespace
