// Keys whose bytes reach the program in pieces, as reads of a terminal may
// split them: found by fuzzing the decoder, every split must give the keys
// that the whole sequence gives, since the decoder waits for the rest of
// anything that may still become a longer key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/console_term.h"

namespace {

std::vector<std::string> decoded(const std::vector<std::string>& pieces) {
    std::vector<INPUT_RECORD> records;
    std::string pending;
    for (size_t i = 0; i < pieces.size(); ++i) {
        pending += pieces[i];
        bool last = i + 1 == pieces.size();
        size_t used = posix::term::decode_keys(reinterpret_cast<const unsigned char*>(pending.data()),
                                               pending.size(), last, {}, true, &records);
        pending.erase(0, used);
    }
    EXPECT_TRUE(pending.empty());
    std::vector<std::string> keys;
    for (const INPUT_RECORD& r : records) {
        const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
        keys.push_back(std::to_string(k.wVirtualScanCode) + "/" +
                       std::to_string(static_cast<unsigned char>(k.uChar.AsciiChar)) + "/" +
                       std::to_string(k.dwControlKeyState));
    }
    return keys;
}

TEST(KeyPieces, EscEscWaitsForTheSequenceThatMayFollow) {
    // Alt+Up as ESC ESC [ A, cut after the second ESC: once Alt+Esc, '[' and 'A'.
    std::vector<std::string> whole = decoded({"\x1b\x1b[A"});
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0], std::to_string(72) + "/0/" + std::to_string(LEFT_ALT_PRESSED | ENHANCED_KEY));
    EXPECT_EQ(decoded({"\x1b\x1b", "[A"}), whole);
    // When nothing follows, the wait ends in Alt+Esc as before.
    EXPECT_EQ(decoded({"\x1b\x1b"}), std::vector<std::string>{"1/27/" + std::to_string(LEFT_ALT_PRESSED)});
}

TEST(KeyPieces, EverySplitOfASequenceGivesTheSameKeys) {
    const std::string sequences[] = {"\x1b[1;5A", "\x1b\x1bOB", "\x1bOP", "\x1b[15;2~", "\x1b\xc3\xa9", "\xe2\x82\xac",
                                     "a\x1b[Bb"};
    for (const std::string& s : sequences) {
        std::vector<std::string> whole = decoded({s});
        for (size_t cut = 1; cut < s.size(); ++cut)
            EXPECT_EQ(decoded({s.substr(0, cut), s.substr(cut)}), whole) << "cut at " << cut << " of " << s.size();
    }
}

}  // namespace
