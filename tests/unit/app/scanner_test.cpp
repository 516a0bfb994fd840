// The scanner exchange, its queries and the polling cycle against a scripted
// scanner on the fake's COM3: what goes out on the line, what comes back,
// what is drawn, and the time it takes on the fake clock.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/monitor.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"

namespace {

struct Scanner : ::testing::Test {
    fake::SerialDevice* line = nullptr;
    char reply[256];
    int answered = 0, answer_limit = 1 << 30;  // then the scanner falls silent
    std::map<std::string, std::string> replies = {{"IDN", "IDN,SR-B20\r"},      {"VER", "VER,Firmware 2.07\r"},
                                                  {"LVL", "LVL,628\r"},         {"TUN", "TUN,100,1462500\r"},
                                                  {"SIG", "SIG,512\r"}};
    void SetUp() override {
        fake::reset();
        clock_mode = CLOCK_UNPROBED;
        std_init(1);
        scr_out = fake::console_output;
        scr_size(20, 40);
        mon.model_a = mon.model_b = mon.connected = 0;
        mon.lost_count = mon.signal_fail_count = mon.signal_index = 0;
        mon.sound_choice = 1, mon.port_number = 3, mon.current_baud = 38400;
        line = &fake::com(3);
        ASSERT_EQ(port_open(3, 38400, 8, 0, 1), 0);
        line->peer = [this](fake::SerialDevice& d, const std::string& sent) {  // by the command's code, 2 ms later
            if (++answered <= answer_limit && replies.count(sent.substr(0, 3))) d.send(replies[sent.substr(0, 3)], 2);
        };
    }
    void TearDown() override { port_close(3); }
    std::string info(const std::string& answer, int32_t result = 0) {
        replies["VER"] = answer;
        EXPECT_EQ(query_info(reply), result) << answer;
        return reply;
    }
    std::string commands() {
        std::string all;
        for (size_t i = 0; i + 3 <= line->received.size(); i += 4) all += line->received.substr(i, 3) + " ";
        return all;
    }
    std::string row(int r) { return fake::console_line(r - 1).substr(0, 40); }
};

TEST_F(Scanner, ACommandGoesOutWithACarriageReturnLineFeedsAreDroppedAndLeftoversDrained) {
    EXPECT_EQ(info("VER,Firm\nware 2.07\r\nIDN,STALE\r"), "VER,Firmware 2.07");
    EXPECT_EQ(line->received, "VER\r");
    EXPECT_EQ(port_table[3].rx_end - port_table[3].rx_pos, 11);  // behind the CR: left for the next exchange
    EXPECT_EQ(info("VER,2.07\r"), "VER,2.07");
}

TEST_F(Scanner, AReplyKeeps127CharactersOneMoreOverflowsAndSilenceTimesOutAfter500ms) {
    EXPECT_EQ(info(std::string(127, 'x') + "\r"), std::string(127, 'x'));
    const std::string overflow = info(std::string(128, 'x') + "\r", 1);
    EXPECT_EQ(overflow.find('x'), std::string::npos);
    replies.clear();
    while (port_getc(3) >= 0) {
    }
    int64_t start = fake::now_ms();
    fake::sleeps.clear();
    EXPECT_EQ(query_info(reply), 1);
    EXPECT_EQ(fake::now_ms() - start, 500);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>(fake::sleeps.size(), 1));  // polls of an empty line sleep 1 ms
    EXPECT_NE(std::string(reply), overflow);
    for (int64_t gap : {60, 70}) {  // the deadline is fixed: the CR at 480 ms is in time, at 560 ms not
        line->peer = [gap](fake::SerialDevice& d, const std::string&) {
            for (int i = 0; i < 8; ++i) d.send(std::string(1, "VER,1.0\r"[i]), gap * (i + 1));
        };
        EXPECT_EQ(query_info(reply), gap == 60 ? 0 : 1) << gap;
    }
}

// Model A doubles the level, model B scales 1023 to 640; a reply without a
// comma and a number fails and leaves the level as it was (42).
TEST_F(Scanner, TheModelReplyNamesTheModelsThatScaleTheLevel) {
    const struct { const char *model, *level; int16_t a, b; int32_t result, want; } cases[] = {
        {"IDN,SR-A10\r", "LVL,128\r", 1, 0, 0, 256},  {"IDN,SR-B20\r", "LVL,1023\r", 0, 1, 0, 640},
        {"IDN,SR-B20\r", "LVL,600\r", 0, 1, 0, 375},  {"IDN,A10/B20\r", "LVL,128\r", 1, 1, 0, 256},
        {"IDN,SR-C30\r", "LVL,128\r", 0, 0, 0, 0},    {"IDN,SR-A10\r", "X,2000000000\r", 1, 0, 0, INT32_MAX},
        {"IDN,SR-A10\r", "LVL 128\r", 1, 0, 1, 42}};
    for (const auto& c : cases) {
        replies["IDN"] = c.model, replies["LVL"] = c.level;
        EXPECT_EQ(query_model(reply), 0);
        EXPECT_EQ(std::make_pair(mon.model_a, mon.model_b), std::make_pair(c.a, c.b)) << c.model;
        int32_t level = 42;
        EXPECT_EQ(query_level(&level), c.result) << c.level;
        EXPECT_EQ(level, c.want) << c.level;
    }
}

// The tuning reply becomes two numbers at least 12 wide; the caller reads
// the signal from the fifth character on, and only a good signal reply
// draws the help line, for the output in use.
TEST_F(Scanner, TuningAndSignalReplies) {
    for (auto [in, out] : {std::pair{"TUN,100,1462500\r", " 100 1462500"}, {"TUN\r", "            "}}) {
        replies["TUN"] = in;
        EXPECT_EQ(query_tuning(reply), 0) << in;
        EXPECT_STREQ(reply, out);
    }
    for (auto [in, result] : {std::pair{"LVL,512\r", 1}, {"SIG,\r", 1}, {"SIG,5\r", 0}}) {
        replies["SIG"] = in;
        EXPECT_EQ(query_signal(reply), result) << in;
        EXPECT_EQ(row(20) == std::string(40, ' '), result == 1) << in;
    }
    const std::string tone_help = row(20);
    mon.sound_choice = 0;  // the tone thread fell back to beeps
    EXPECT_EQ(query_signal(reply), 0);
    EXPECT_NE(row(20), tone_help);
}

TEST_F(Scanner, AGoodPassQueriesInOrderAndDrawsEveryRowAndAnotherModelStartsAfresh) {
    answer_limit = 8;  // one whole pass, then silence
    poll_cycle();
    EXPECT_EQ(commands(), "IDN VER LVL VER IDN TUN TUN SIG VER IDN IDN ");
    for (auto [r, text] : {std::pair{3, "COM3:  38400 baud"}, {5, "Model: SR-B20  firmware 2.07"}, {7, "  392"},
                           {9, "Frequency:  146.2500 MHz"}, {15, "Sig:  512/1023"}}) {
        EXPECT_NE(row(r).find(text), std::string::npos) << row(r);
    }
    EXPECT_EQ(fake::console.title, "Scanner - 146.2500");
    scr_clear(0x10);
    line->received.clear();
    int idns = 0;  // the check query sees another model: a new top, not a pass
    answered = 0;
    line->peer = [&](fake::SerialDevice& d, const std::string& sent) {
        std::string code = sent.substr(0, 3);
        if (++answered <= 7) d.send(code == "IDN" && ++idns > 1 ? "IDN,SR-A10\r" : replies[code], 2);
    };
    mon.signal_index = 77;
    poll_cycle();
    EXPECT_EQ(commands(), "IDN VER LVL VER IDN IDN VER LVL IDN IDN ");
    EXPECT_EQ(row(5), std::string(40, ' '));
    EXPECT_EQ(mon.signal_index.load(), 0);
}

TEST_F(Scanner, RepliesThatReadAsStoredTextsKeepEveryPass) {
    // 0x80 ^ ' ' ^ '3' ^ '3' passes the check of a stored text constant.
    replies["IDN"] = "IDN,\x80 33\r";
    replies["VER"] = "\x80 33\r";
    answer_limit = 15;  // a top and two whole passes
    poll_cycle();
    EXPECT_EQ(commands(), "IDN VER LVL VER IDN TUN TUN SIG VER LVL VER IDN TUN TUN SIG VER IDN IDN ");
    EXPECT_EQ(row(5).substr(0, 25), " Model: \x80 33  firmware 33") << row(5);
}

TEST_F(Scanner, DifferingInfoRepliesAbandonThePassBeforeAnythingIsDrawn) {
    int infos = 0;
    line->peer = [&](fake::SerialDevice& d, const std::string& sent) {
        std::string code = sent.substr(0, 3);
        if (code == "VER") d.send(++infos % 2 ? "VER,Firmware 2.07\r" : "VER,Firmware 2.08\r", 2);
        else if (++answered < 9) d.send(replies[code], 2);
    };
    poll_cycle();
    EXPECT_EQ(commands().substr(0, 24), "IDN VER LVL VER IDN VER ");  // a new model reference after the second info
    EXPECT_EQ(row(5), std::string(40, ' '));
}

TEST_F(Scanner, TheThirdFailedSignalReadingBlanksItsRows) {
    answer_limit = 8;
    poll_cycle();
    replies["SIG"] = "SIG\r";  // too short to hold a number
    for (int passes : {2, 1}) {  // each time a top, then passes whose signal fails
        answered = 0, answer_limit = 1 + 7 * passes;
        poll_cycle();
        EXPECT_EQ(row(17) == std::string(40, ' '), passes == 1) << mon.signal_fail_count;
        EXPECT_EQ(row(15) == std::string(40, ' '), passes == 1) << mon.signal_fail_count;
    }
}

TEST_F(Scanner, TwoSilentModelQueriesGiveUpAfterASecondAndTheSixthEntryTellsOfNoCommunication) {
    answer_limit = 0;
    int64_t start = ms_now();
    poll_cycle();
    EXPECT_EQ(commands(), "IDN IDN ");
    EXPECT_TRUE(ms_now() - start >= 1000 && ms_now() - start < 1010) << ms_now() - start;
    for (int entry = 2; entry <= 5; ++entry) poll_cycle();
    EXPECT_EQ(row(3).find("no communication"), std::string::npos) << row(3);
    poll_cycle();
    EXPECT_NE(row(3).find("[no communication with scanner]"), std::string::npos) << row(3);
    EXPECT_EQ(fake::console.title, "Scanner - no response");
    int titles = fake::count("SetConsoleTitleA");
    show_status(-1);
    EXPECT_EQ(fake::count("SetConsoleTitleA"), titles) << "the title is set only when it changes";
    for (int32_t value : {0, 115200, 9600}) {  // each status covers the widest one
        show_status(value);
        EXPECT_EQ(row(3).find(']', value > 0 ? 0 : 39), std::string::npos) << value << ": " << row(3);
    }
}

}  // namespace
