// The polling cycle over the fake serial line: the order of the exchanges,
// what a disagreeing reply abandons, when the cycle gives up, and the status
// and title it leaves.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/monitor.h"
#include "console/keys.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"

namespace {

class Polling : public ::testing::Test {
protected:
    fake::SerialDevice* line = nullptr;
    int answered = 0;
    int answer_limit = 1 << 30;
    std::map<std::string, std::string> replies;

    void SetUp() override {
        fake::reset();
        clock_mode = CLOCK_UNPROBED;
        std_init(1);
        while (key_read(nullptr) != -1) {
        }
        scr_out = fake::console_output;
        scr_size(20, 40);
        scr_clear(0x10);
        mon.port_number = 3;
        mon.model_a = mon.model_b = 0;
        mon.connected = 0;
        mon.lost_count = 0;
        mon.signal_fail_count = 0;
        mon.signal_index = 0;
        mon.sound_choice = 1;
        mon.current_baud = 38400;
        mon.last_title[0] = 0;
        line = &fake::com(3);
        ASSERT_EQ(port_open(3, 38400, 8, 0, 1), 0);
        replies = {{"IDN", "IDN,SR-B20\r"},         {"VER", "VER,Firmware 2.07\r"}, {"LVL", "LVL,628\r"},
                   {"TUN", "TUN,100,1462500\r"},    {"SIG", "SIG,512\r"}};
        // The scanner answers until answer_limit commands have come, then
        // falls silent, which ends the cycle.
        line->peer = [this](fake::SerialDevice& d, const std::string& sent) {
            if (sent.size() < 3 || ++answered > answer_limit) return;
            auto it = replies.find(sent.substr(0, 3));
            if (it != replies.end()) d.send(it->second, 2);
        };
    }
    void TearDown() override { port_close(3); }

    std::string commands() {
        std::string all;
        for (size_t i = 0; i + 3 < line->received.size() + 1; i += 4) all += line->received.substr(i, 3) + " ";
        return all;
    }
    std::string row(int r) { return fake::console_line(r - 1).substr(0, 40); }
};

TEST_F(Polling, AGoodPassQueriesInOrderAndDrawsEveryRow) {
    answer_limit = 8;  // one whole pass, then silence
    poll_cycle();
    EXPECT_EQ(commands(), "IDN VER LVL VER IDN TUN TUN SIG VER IDN IDN ");
    EXPECT_EQ(mon.signal_index.load(), 0);  // silenced again by the failed pass
    EXPECT_EQ(mon.connected, 1);
    EXPECT_NE(row(3).find("38400"), std::string::npos) << row(3);
    EXPECT_NE(row(5).find("SR-B20"), std::string::npos) << row(5);
    EXPECT_NE(row(5).find("2.07"), std::string::npos) << row(5);
    EXPECT_EQ(row(5).find("Firmware"), std::string::npos) << row(5);  // shown from its first digit
    EXPECT_NE(row(7).find("392"), std::string::npos) << row(7);       // 628 × 640 / 1023
    EXPECT_NE(row(9).find("146.2500"), std::string::npos) << row(9);
    EXPECT_NE(row(15).find("512"), std::string::npos) << row(15);
    EXPECT_NE(row(17), std::string(40, ' '));
    EXPECT_NE(fake::console.title.find("146.2500"), std::string::npos) << fake::console.title;
}

TEST_F(Polling, RepliesThatReadAsStoredTextsKeepEveryPass) {
    // 0x80 ^ ' ' ^ '3' ^ '3' passes the check of a stored text constant.
    replies["IDN"] = "IDN,\x80 33\r";
    replies["VER"] = "\x80 33\r";
    answer_limit = 15;  // a top and two whole passes
    poll_cycle();
    EXPECT_EQ(commands(), "IDN VER LVL VER IDN TUN TUN SIG VER LVL VER IDN TUN TUN SIG VER IDN IDN ");
    EXPECT_EQ(row(5).substr(0, 25), " Model: \x80 33  firmware 33") << row(5);
}

TEST_F(Polling, TwoSilentModelQueriesGiveUpAfterASecond) {
    answer_limit = 0;
    int64_t start = ms_now();
    poll_cycle();
    EXPECT_EQ(commands(), "IDN IDN ");
    EXPECT_GE(ms_now() - start, 1000);
    EXPECT_LT(ms_now() - start, 1100);
    EXPECT_EQ(mon.connected, 0);
    EXPECT_EQ(mon.lost_count, 1);
}

TEST_F(Polling, DifferingInfoRepliesAbandonThePassBeforeAnythingIsDrawn) {
    int infos = 0;
    line->peer = [&](fake::SerialDevice& d, const std::string& sent) {
        if (++answered > 9) return;
        std::string code = sent.substr(0, 3);
        if (code == "VER") d.send(++infos % 2 ? "VER,Firmware 2.07\r" : "VER,Firmware 2.08\r", 2);
        else if (replies.count(code)) d.send(replies[code], 2);
    };
    mon.signal_index = 77;
    poll_cycle();
    // The pass stops at the second info reply and the cycle takes a new model.
    EXPECT_EQ(commands().substr(0, 24), "IDN VER LVL VER IDN VER ");
    EXPECT_EQ(row(5), std::string(40, ' '));
    EXPECT_EQ(mon.signal_index.load(), 0);
}

TEST_F(Polling, AnotherModelMidRunBecomesTheNewReference) {
    int idns = 0;
    line->peer = [&](fake::SerialDevice& d, const std::string& sent) {
        if (++answered > 13) return;
        std::string code = sent.substr(0, 3);
        if (code == "IDN") d.send(++idns < 2 ? "IDN,SR-A10\r" : "IDN,SR-B20\r", 2);
        else if (replies.count(code)) d.send(replies[code], 2);
    };
    poll_cycle();
    // The check query saw B20 against the A10 reference: a new top.
    EXPECT_EQ(commands().substr(0, 24), "IDN VER LVL VER IDN IDN ");
    EXPECT_EQ(mon.model_b, 1);
    EXPECT_EQ(mon.model_a, 0);
    EXPECT_NE(row(5).find("SR-B20"), std::string::npos) << row(5);
}

TEST_F(Polling, TheThirdFailedSignalReadingBlanksItsRows) {
    answer_limit = 8;
    poll_cycle();
    ASSERT_NE(row(17), std::string(40, ' '));
    answered = 0;
    replies["SIG"] = "SIG\r";  // too short to hold a number
    answer_limit = 1 + 3 * 7;  // a top, then three passes whose signal fails
    line->received.clear();
    mon.signal_index = 512;
    poll_cycle();
    EXPECT_EQ(mon.signal_fail_count, 3);
    EXPECT_EQ(mon.signal_index.load(), 0);
    EXPECT_EQ(row(15), std::string(40, ' '));
    EXPECT_EQ(row(17), std::string(40, ' '));
}

TEST_F(Polling, StatusTurnsToNoCommunicationFromTheSixthEntryBeforeAnyAnswer) {
    answer_limit = 0;
    for (int entry = 1; entry <= 5; ++entry) poll_cycle();
    EXPECT_EQ(row(3).find("no communication"), std::string::npos) << row(3);
    poll_cycle();
    EXPECT_NE(row(3).find("[no communication with scanner]"), std::string::npos) << row(3);
    EXPECT_NE(fake::console.title.find("no response"), std::string::npos);
}

TEST_F(Polling, EveryStatusCoversTheWholeField) {
    for (int32_t value : {-1, 0, 115200, 9600}) {
        show_status(-1);  // the widest text first
        show_status(value);
        EXPECT_EQ(row(3).size(), 40u);
        EXPECT_EQ(row(3).find(']', value > 0 ? 0 : 39), std::string::npos) << value << ": " << row(3);
    }
}

TEST_F(Polling, TheTitleIsSetOnlyWhenItChanges) {
    set_title("146.2500");
    set_title("146.2500");
    EXPECT_EQ(fake::count("SetConsoleTitleA"), 1);
    set_title("146.2600");
    EXPECT_EQ(fake::count("SetConsoleTitleA"), 2);
}

}  // namespace
