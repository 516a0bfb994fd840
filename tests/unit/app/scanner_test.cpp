// The scanner exchange and its queries against a scripted scanner on the
// fake's COM3: what goes out on the line, what comes back, and the time it
// may take, measured on the fake clock.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/scanner.h"
#include "app/state.h"
#include "console/screen.h"
#include "runtime/out.h"
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
    int32_t buffered() { return static_cast<int32_t>(port_table[3].rx_end - port_table[3].rx_pos); }
    std::string help_line() { return fake::console_line(19).substr(3, 28); }
};

TEST_F(Scanner, ACommandGoesOutAsThreeCharactersAndACarriageReturn) {
    answers({{"VER", "VER,Firmware 2.07\r"}});
    EXPECT_EQ(query_info(reply), 0);
    EXPECT_STREQ(reply, "VER,Firmware 2.07");
    EXPECT_EQ(line->received, "VER\r");
}

TEST_F(Scanner, LineFeedsAreDroppedWhereverTheyCome) {
    answers({{"VER", "VER,Firm\nware 2.07\r\n"}, {"IDN", "\nIDN,SR-A10\r\n"}});
    EXPECT_EQ(query_info(reply), 0);
    EXPECT_STREQ(reply, "VER,Firmware 2.07");
    EXPECT_EQ(query_model(reply), 0);  // the LF left over from the last reply is drained first
    EXPECT_STREQ(reply, "IDN,SR-A10");
}

TEST_F(Scanner, AReplyKeepsAt127CharactersAndOneMoreOverflows) {
    std::string longest(127, 'x');
    answers({{"VER", longest + "\r"}});
    EXPECT_EQ(query_info(reply), 0);
    EXPECT_EQ(std::string(reply), longest);

    answers({{"VER", std::string(128, 'x') + "\r"}});
    EXPECT_EQ(query_info(reply), 1);
    std::string overflow = reply;
    EXPECT_EQ(overflow.find('x'), std::string::npos);
    EXPECT_LT(overflow.size(), 127u);

    // A reply with no line end at all overflows too, well before its time.
    int64_t start = fake::now_ms();
    answers({{"VER", std::string(300, 'y')}});
    EXPECT_EQ(query_info(reply), 1);
    EXPECT_STREQ(reply, overflow.c_str());
    EXPECT_LT(fake::now_ms() - start, 100);
}

TEST_F(Scanner, NoAnswerFailsAfter500msOnTheClock) {
    int64_t start = fake::now_ms();
    EXPECT_EQ(query_info(reply), 1);
    int64_t took = fake::now_ms() - start;
    EXPECT_GE(took, 500);
    EXPECT_LE(took, 502);
    std::string timeout = reply;
    EXPECT_FALSE(timeout.empty());
    // Each poll of an empty line costs a 1 ms sleep, never more.
    for (DWORD ms : fake::sleeps) EXPECT_EQ(ms, 1u);

    // The overflow text is another text, so the caller can tell them apart.
    answers({{"VER", std::string(128, 'x') + "\r"}});
    query_info(reply);
    EXPECT_NE(timeout, reply);
}

TEST_F(Scanner, TheDeadlineIsFixedAndBytesDoNotExtendIt) {
    auto trickle = [this](int64_t gap) {
        std::string text = "VER,1.0\r";
        line->peer = [text, gap](fake::SerialDevice& d, const std::string&) {
            for (size_t i = 0; i < text.size(); ++i) d.send(text.substr(i, 1), gap * int64_t(i + 1));
        };
    };
    trickle(60);  // the carriage return comes at 480 ms
    EXPECT_EQ(query_info(reply), 0);
    EXPECT_STREQ(reply, "VER,1.0");
    trickle(70);  // ... at 560 ms
    EXPECT_EQ(query_info(reply), 1);
}

TEST_F(Scanner, BytesAfterTheCarriageReturnWaitForTheNextExchangeToDrainThem) {
    answers({{"IDN", "IDN,SR-A10\rIDN,STALE\r"}, {"VER", "VER,2.07\r"}});
    EXPECT_EQ(query_model(reply), 0);
    EXPECT_STREQ(reply, "IDN,SR-A10");
    EXPECT_EQ(buffered(), 10);
    EXPECT_EQ(query_info(reply), 0);
    EXPECT_STREQ(reply, "VER,2.07");
}

TEST_F(Scanner, TheModelReplyNamesModelAOrBOrBothOrNeither) {
    struct {
        const char* reply;
        int16_t a, b;
    } cases[] = {{"IDN,SR-A10\r", 1, 0}, {"IDN,SR-B20\r", 0, 1}, {"IDN,A10/B20\r", 1, 1}, {"IDN,SR-C30\r", 0, 0}};
    for (auto c : cases) {
        answers({{"IDN", c.reply}});
        EXPECT_EQ(query_model(reply), 0);
        EXPECT_EQ(mon.model_a, c.a) << c.reply;
        EXPECT_EQ(mon.model_b, c.b) << c.reply;
    }
    answers({{"IDN", "IDN,SR-A10\r"}});
    query_model(reply);
    answers({});
    EXPECT_EQ(query_model(reply), 1);  // a failed query keeps the last decision
    EXPECT_EQ(mon.model_a, 1);
}

TEST_F(Scanner, TheLevelIsScaledByModel) {
    struct {
        int16_t a, b;
        const char* reply;
        int32_t level;
    } cases[] = {
        {1, 0, "LVL,128\r", 256},   {0, 1, "LVL,1023\r", 640}, {0, 1, "LVL,1\r", 0},
        {0, 1, "LVL, 600 V\r", 375}, {0, 1, "LVL,-5\r", -3},   {1, 1, "LVL,128\r", 256},
        {0, 0, "LVL,128\r", 0},     {1, 0, "X,2000000000\r", INT32_MAX},
    };
    for (auto c : cases) {
        mon.model_a = c.a;
        mon.model_b = c.b;
        answers({{"LVL", c.reply}});
        int32_t level = -99;
        EXPECT_EQ(query_level(&level), 0) << c.reply;
        EXPECT_EQ(level, c.level) << c.reply;
    }
}

TEST_F(Scanner, ALevelWithoutACommaOrANumberFailsAndKeepsTheOldLevel) {
    mon.model_a = 1;
    for (const char* r : {"LVL 128\r", "LVL,\r", "LVL,abc\r", "LVL,99999999999\r"}) {
        answers({{"LVL", r}});
        int32_t level = 42;
        EXPECT_EQ(query_level(&level), 1) << r;
        EXPECT_EQ(level, 42) << r;
    }
}

TEST_F(Scanner, TheTuningReplyBecomesTwoNumbersAtLeast12Wide) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"TUN,100,1462500\r", " 100 1462500"},
        {"TUN,1234\r", "        1234"},
        {"TUN\r", "            "},
        {"TUN,100,14625000000\r", "100 14625000000"},
        {"TUN,,5,\r", "          5 "},
    };
    for (auto c : cases) {
        answers({{"TUN", c.in}});
        EXPECT_EQ(query_tuning(reply), 0) << c.in;
        EXPECT_STREQ(reply, c.out);
    }
}

TEST_F(Scanner, AGoodSignalReplyDrawsTheHelpForTheOutputInUse) {
    answers({{"SIG", "SIG,512\r"}});
    EXPECT_EQ(query_signal(reply), 0);
    EXPECT_STREQ(reply, "SIG,512");
    std::string tone_help = help_line();
    EXPECT_NE(tone_help, std::string(28, ' '));
    mon.sound_choice = 0;  // the tone thread fell back to beeps
    EXPECT_EQ(query_signal(reply), 0);
    EXPECT_NE(help_line(), tone_help);
    EXPECT_NE(help_line(), std::string(28, ' '));
}

// The caller reads the number from the fifth character on; a reply that
// stops short of it must not pass.
TEST_F(Scanner, ASignalReplyWithoutTheCodeOrTooShortForANumberFails) {
    for (const char* r : {"LVL,512\r", "SIG\r", "SIG,\r", "xSIG\r"}) {
        answers({{"SIG", r}});
        fake::calls.clear();
        EXPECT_EQ(query_signal(reply), 1) << r;
        EXPECT_EQ(fake::count("WriteConsoleOutputCharacterA"), 0) << r;
    }
    answers({{"SIG", "SIG,5\r"}});
    EXPECT_EQ(query_signal(reply), 0);
}

class OpenAtBaud : public Scanner {};

TEST_F(OpenAtBaud, ReopensAtTheRateAndDrainsWhatWasWaiting) {
    line->send("garbage at the old rate");
    open_at_baud(57600);
    EXPECT_EQ(line->state.BaudRate, 57600u);
    EXPECT_EQ(line->opens, 2);
    EXPECT_EQ(port_getc(3), -1);
    EXPECT_TRUE(line->queue.empty());
}

TEST_F(OpenAtBaud, APortThatWillNotOpenEndsTheProgramNamingIt) {
    std_init(1);
    mon.port_number = 6;  // no COM6 in the fake
    try {
        open_at_baud(9600);
        ADD_FAILURE() << "open_at_baud returned";
    } catch (const fake::Exit& e) {
        EXPECT_EQ(e.code, 1);
    }
    std::string said = fake::written[fake::std_handles[1]];
    EXPECT_NE(said.find("COM6"), std::string::npos) << said;
}

}  // namespace
