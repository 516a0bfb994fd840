// The scanner exchange and its queries against a scripted scanner on the
// fake's COM3: what goes out on the line, what comes back, and the time it
// may take, measured on the fake clock.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/scanner.h"
#include "app/state.h"
#include "console/screen.h"
#include "runtime/txt.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"

namespace {

class Scanner : public ::testing::Test {
protected:
    fake::SerialDevice* line = nullptr;
    char reply[256];

    void SetUp() override {
        fake::reset();
        clock_mode = CLOCK_UNPROBED;
        scr_out = fake::console_output;
        scr_size(20, 40);
        mon.port_number = 3;
        mon.model_a = mon.model_b = 0;
        mon.sound_choice = 1;
        line = &fake::com(3);
        ASSERT_EQ(port_open(3, 9600, 8, 0, 1), 0);
        fake::calls.clear();
    }
    void TearDown() override { port_close(3); }

    // The scanner answers each command by its code, `delay` ms later.
    void answers(std::map<std::string, std::string> replies, int64_t delay = 3) {
        line->peer = [replies, delay](fake::SerialDevice& d, const std::string& sent) {
            auto it = replies.find(sent.substr(0, 3));
            if (it != replies.end()) d.send(it->second, delay);
        };
    }
    // The reply to VER, which is passed on as it comes.
    std::string info(const std::string& answer, int32_t result = 0) {
        answers({{"VER", answer}});
        EXPECT_EQ(query_info(reply), result) << answer;
        return reply;
    }
    std::string help_line() { return fake::console_line(19).substr(3, 28); }
};

TEST_F(Scanner, ACommandGoesOutWithACarriageReturnAndLineFeedsAreDropped) {
    EXPECT_EQ(info("VER,Firm\nware 2.07\r\n"), "VER,Firmware 2.07");
    EXPECT_EQ(line->received, "VER\r");
    answers({{"IDN", "\nIDN,SR-A10\r\n"}});
    EXPECT_EQ(query_model(reply), 0);  // the LF left over from the last reply is drained first
    EXPECT_STREQ(reply, "IDN,SR-A10");
}

TEST_F(Scanner, AReplyKeepsAt127CharactersAndOneMoreOverflows) {
    EXPECT_EQ(info(std::string(127, 'x') + "\r"), std::string(127, 'x'));
    std::string overflow = info(std::string(128, 'x') + "\r", 1);
    EXPECT_EQ(overflow.find('x'), std::string::npos);
    // A reply with no line end at all overflows too, well before its time.
    int64_t start = fake::now_ms();
    EXPECT_EQ(info(std::string(300, 'y'), 1), overflow);
    EXPECT_LT(fake::now_ms() - start, 100);
}

TEST_F(Scanner, NoAnswerFailsAfter500msOnTheClockWithItsOwnText) {
    int64_t start = fake::now_ms();
    EXPECT_EQ(query_info(reply), 1);
    EXPECT_GE(fake::now_ms() - start, 500);
    EXPECT_LE(fake::now_ms() - start, 502);
    for (DWORD ms : fake::sleeps) EXPECT_EQ(ms, 1u);  // each poll of an empty line sleeps 1 ms, never more
    std::string timeout = reply;
    EXPECT_NE(timeout, "");
    EXPECT_NE(info(std::string(128, 'x') + "\r", 1), timeout);  // the caller can tell it from an overflow
}

TEST_F(Scanner, TheDeadlineIsFixedAndBytesDoNotExtendIt) {
    for (int64_t gap : {60, 70}) {  // the carriage return comes at 480 or 560 ms
        line->peer = [gap](fake::SerialDevice& d, const std::string&) {
            for (int i = 0; i < 8; ++i) d.send(std::string(1, "VER,1.0\r"[i]), gap * (i + 1));
        };
        EXPECT_EQ(query_info(reply), gap == 60 ? 0 : 1) << gap;
    }
}

TEST_F(Scanner, BytesAfterTheCarriageReturnWaitForTheNextExchangeToDrainThem) {
    answers({{"IDN", "IDN,SR-A10\rIDN,STALE\r"}, {"VER", "VER,2.07\r"}});
    EXPECT_EQ(query_model(reply), 0);
    EXPECT_STREQ(reply, "IDN,SR-A10");
    EXPECT_EQ(port_table[3].rx_end - port_table[3].rx_pos, 10);
    EXPECT_EQ(query_info(reply), 0);
    EXPECT_STREQ(reply, "VER,2.07");
}

TEST_F(Scanner, TheModelReplyNamesModelAOrBOrBothOrNeither) {
    const struct {
        const char* reply;
        int16_t a, b;
    } cases[] = {{"IDN,SR-C30\r", 0, 0}, {"IDN,SR-B20\r", 0, 1}, {"IDN,A10/B20\r", 1, 1}, {"IDN,SR-A10\r", 1, 0}};
    for (auto c : cases) {
        answers({{"IDN", c.reply}});
        EXPECT_EQ(query_model(reply), 0);
        EXPECT_EQ(std::make_pair(mon.model_a, mon.model_b), std::make_pair(c.a, c.b)) << c.reply;
    }
    answers({});
    EXPECT_EQ(query_model(reply), 1);  // a failed query keeps the last decision
    EXPECT_EQ(std::make_pair(mon.model_a, mon.model_b), std::make_pair(int16_t(1), int16_t(0)));
}

// Model A doubles the reading, model B scales 1023 to 640; a reply without
// a comma and a number fails and leaves the level as it was (42).
TEST_F(Scanner, TheLevelIsScaledByModel) {
    const struct {
        int16_t a, b;
        const char* reply;
        int32_t result, level;
    } cases[] = {
        {1, 0, "LVL,128\r", 0, 256},       {0, 1, "LVL,1023\r", 0, 640},    {0, 1, "LVL,1\r", 0, 0},
        {0, 1, "LVL, 600 V\r", 0, 375},    {0, 1, "LVL,-5\r", 0, -3},       {1, 1, "LVL,128\r", 0, 256},
        {0, 0, "LVL,128\r", 0, 0},         {1, 0, "X,2000000000\r", 0, INT32_MAX},
        {1, 0, "LVL 128\r", 1, 42},        {1, 0, "LVL,\r", 1, 42},         {1, 0, "LVL,abc\r", 1, 42},
        {1, 0, "LVL,99999999999\r", 1, 42},
    };
    for (auto c : cases) {
        mon.model_a = c.a;
        mon.model_b = c.b;
        answers({{"LVL", c.reply}});
        int32_t level = 42;
        EXPECT_EQ(query_level(&level), c.result) << c.reply;
        EXPECT_EQ(level, c.level) << c.reply;
    }
}

TEST_F(Scanner, TheTuningReplyBecomesTwoNumbersAtLeast12Wide) {
    const std::pair<const char*, const char*> cases[] = {
        {"TUN,100,1462500\r", " 100 1462500"}, {"TUN,1234\r", "        1234"}, {"TUN\r", "            "},
        {"TUN,100,14625000000\r", "100 14625000000"}, {"TUN,,5,\r", "          5 "}};
    for (auto [in, out] : cases) {
        answers({{"TUN", in}});
        EXPECT_EQ(query_tuning(reply), 0) << in;
        EXPECT_STREQ(reply, out);
    }
}

// The caller reads the number from the fifth character on: a reply that
// stops short of it fails, and only a good one draws the help line for the
// output in use.
TEST_F(Scanner, OnlyAGoodSignalReplyPassesAndDrawsTheHelp) {
    for (const char* r : {"LVL,512\r", "SIG\r", "SIG,\r", "xSIG\r"}) {
        answers({{"SIG", r}});
        EXPECT_EQ(query_signal(reply), 1) << r;
        EXPECT_EQ(fake::count("WriteConsoleOutputCharacterA"), 0) << r;
    }
    answers({{"SIG", "SIG,5\r"}});
    EXPECT_EQ(query_signal(reply), 0);
    EXPECT_STREQ(reply, "SIG,5");
    std::string tone_help = help_line();
    EXPECT_NE(tone_help, std::string(28, ' '));
    mon.sound_choice = 0;  // the tone thread fell back to beeps
    EXPECT_EQ(query_signal(reply), 0);
    EXPECT_NE(help_line(), tone_help);
    EXPECT_NE(help_line(), std::string(28, ' '));
}

}  // namespace
