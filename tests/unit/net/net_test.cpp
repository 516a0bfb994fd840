// hamlib's rigctld protocol as rxmon answers it, line by line, from readings
// with a pass (146.25 MHz, signal 700) and while the scanner is silent; and
// the servers' [HOST:]PORT.
#include <gtest/gtest.h>

#include <string>

#include "net/listen.h"
#include "net/rigctl.h"

namespace {

std::string feed(const std::string& bytes, bool answering) {
    Readings now;
    now.state = answering ? kAnswering : kLost;
    now.have_pass = answering, now.frequency_hz = 146250000, now.signal = 700;
    RigctlLine line;
    std::string out;
    for (char c : bytes) rigctl_feed(line, &c, 1, now, &out);  // byte by byte, as a slow client sends
    return out;
}

TEST(Rigctl, EachLineGetsHamlibsAnswerAndSilenceTimesOut) {
    const std::string dump = "0\n2\n0\n0 214748364700 0x2ef -1 -1 0x1 0x0\n0 0 0 0 0 0 0\n0 0 0 0 0 0 0\n0 0\n0 0\n"
                             "0\n0\n0\n0\n0\n0\n0x0\n0x0\n0x44000000\n0x0\n0x0\n0x0\n";
    struct { std::string line, with_pass, silent; } cases[] = {
        {"\\chk_vfo\n", "0\n", "0\n"},
        {"\\dump_state\n", dump, dump},
        {"f\n", "146250000\n", "RPRT -5\n"},
        {"\\get_freq VFOA\n", "146250000\n", "RPRT -5\n"},
        {"l STRENGTH\nl VFOA RAWSTR\n", "24\n700\n", "RPRT -5\nRPRT -5\n"},
        {"l AF\nl\n", "RPRT -1\nRPRT -1\n", "RPRT -1\nRPRT -1\n"},
        {"v s t m\r\n", "VFOA\n0\nVFOA\n0\nNone\n0\n", "VFOA\n0\nVFOA\n0\nNone\n0\n"},
        {"V VFOB\nV VFOA\n\\get_powerstat\n", "RPRT -11\nRPRT 0\n1\n", "RPRT -11\nRPRT 0\n1\n"},
        {"\\get_lock_mode\n", "0\nRPRT 0\n", "0\nRPRT 0\n"},
        {"F 145000000.000000 f\nL AF 0.5\n\\set_freq 1\n", "RPRT -11\n146250000\nRPRT -11\nRPRT -11\n",
         "RPRT -11\nRPRT -5\nRPRT -11\nRPRT -11\n"},
        {"frob f\n\\dump_caps\n", "RPRT -11\nRPRT -11\n", "RPRT -11\nRPRT -11\n"},
        {"+f\n", "get_freq:\nFrequency: 146250000\nRPRT 0\n", "get_freq:\nRPRT -5\n"},
        {";f VFOA\n", "get_freq: VFOA;Frequency: 146250000;RPRT 0\n", "get_freq: VFOA;RPRT -5\n"},
        {"+l STRENGTH\n", "get_level: STRENGTH\n24\nRPRT 0\n", "get_level: STRENGTH\nRPRT -5\n"},
        {"|m\n", "get_mode:|Mode: None|Passband: 0|RPRT 0\n", "get_mode:|Mode: None|Passband: 0|RPRT 0\n"},
        {"+\\chk_vfo\n+F 1\n", "ChkVFO: 0\nset_freq: 1\nRPRT -11\n", "ChkVFO: 0\nset_freq: 1\nRPRT -11\n"},
        {std::string(1024, ' ') + "v\nv\n", "RPRT -1\nVFOA\n", "RPRT -1\nVFOA\n"},
        {std::string(1023, ' ') + "v\n", "VFOA\n", "VFOA\n"},
        {"q\nv\n", "RPRT 0\n", "RPRT 0\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(feed(c.line, true), c.with_pass) << c.line;
        EXPECT_EQ(feed(c.line, false), c.silent) << c.line;
    }
}

TEST(Rigctl, StrengthRunsFromS0ToS9Plus60) {
    for (auto [signal, db] : {std::pair{0, -54}, {1, -54}, {4, -54}, {5, -53}, {484, 0}, {485, 0}, {1022, 60}, {1023, 60}})
        EXPECT_EQ(rigctl_strength_db(signal), db) << signal;
}

TEST(Rigctl, AddressesAreReadWithLoopbackByDefault) {
    struct { const char* text; const char* host; const char* port; } good[] = {
        {"4532", "127.0.0.1", "4532"}, {"0.0.0.0:1", "0.0.0.0", "1"}, {"[::1]:65535", "::1", "65535"}, {"box:080", "box", "80"}};
    for (const auto& g : good) {
        NetAddress a;
        ASSERT_TRUE(net_address_parse(g.text, &a)) << g.text;
        EXPECT_STREQ(a.host, g.host);
        EXPECT_STREQ(a.port, g.port);
    }
    for (const char* bad : {"", "0", "65536", "45x", ":4532", "::1:4532", "[]:1", "[::1]", "host:", "123456"}) {
        NetAddress a;
        EXPECT_FALSE(net_address_parse(bad, &a)) << bad;
    }
}

}  // namespace
