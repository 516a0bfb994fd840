// hamlib's rigctld protocol as rxmon answers it, line by line, fed a byte at
// a time: from readings with a pass (146.25 MHz, signal 700) and while the
// scanner is lost; a silent answer of "" is the same as with a pass.
#include <gtest/gtest.h>

#include <string>

#include "net/rigctl.h"

namespace {

std::string feed(const std::string& bytes, bool answering) {
    Readings now;
    now.state = answering ? kAnswering : kLost;
    now.have_pass = answering, now.frequency_hz = 146250000, now.signal = 700;
    RigctlLine line;
    std::string out;
    for (char c : bytes) rigctl_feed(line, &c, 1, now, &out);
    return out;
}

TEST(Rigctl, EachLineGetsHamlibsAnswerAndSilenceTimesOut) {
    struct { std::string line, with_pass, silent; } cases[] = {
        {"\\chk_vfo\n+\\chk_vfo\n", "0\nChkVFO: 0\n", ""},
        {"f\n\\get_freq VFOA\n", "146250000\n146250000\n", "RPRT -5\nRPRT -5\n"},
        {"l STRENGTH\nl VFOA RAWSTR\nl AF\nl\n", "24\n700\nRPRT -1\nRPRT -1\n", "RPRT -5\nRPRT -5\nRPRT -1\nRPRT -1\n"},
        {"v s t m\r\n", "VFOA\n0\nVFOA\n0\nNone\n0\n", ""},
        {"V VFOB\nV VFOA\n\\get_powerstat\n\\get_lock_mode\n", "RPRT -11\nRPRT 0\n1\n0\nRPRT 0\n", ""},
        {"F 145000000.000000 f\nL AF 0.5\n\\set_freq 1\nfrob f\n\\dump_caps\n",
         "RPRT -11\n146250000\nRPRT -11\nRPRT -11\nRPRT -11\nRPRT -11\n", "RPRT -11\nRPRT -5\nRPRT -11\nRPRT -11\nRPRT -11\nRPRT -11\n"},
        {"+f\n", "get_freq:\nFrequency: 146250000\nRPRT 0\n", "get_freq:\nRPRT -5\n"},
        {";f VFOA\n", "get_freq: VFOA;Frequency: 146250000;RPRT 0\n", "get_freq: VFOA;RPRT -5\n"},
        {"+l STRENGTH\n", "get_level: STRENGTH\n24\nRPRT 0\n", "get_level: STRENGTH\nRPRT -5\n"},
        {"|m\n+F 1\n", "get_mode:|Mode: None|Passband: 0|RPRT 0\nset_freq: 1\nRPRT -11\n", ""},
        {std::string(1025, ' ') + "v\nv\n" + std::string(1023, ' ') + "v\n", "RPRT -1\nVFOA\nVFOA\n", ""},
        {"q\nv\n", "RPRT 0\n", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(feed(c.line, true), c.with_pass) << c.line;
        EXPECT_EQ(feed(c.line, false), c.silent.empty() ? c.with_pass : c.silent) << c.line;
    }
}

TEST(Rigctl, StrengthRunsFromS0ToS9Plus60Rounded) {
    for (auto [signal, db] : {std::pair{0, -54}, {4, -54}, {5, -53}, {175, -34}, {484, 0}, {485, 0}, {1022, 60}, {1023, 60}})
        EXPECT_EQ(rigctl_strength_db(signal), db) << signal;
}

}  // namespace
