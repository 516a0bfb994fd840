// Texts and text constants; texts from outside the program (replies, file
// names) pass every routine as the bytes they are, even where they read as a
// stored constant (a marker byte and a check that passes).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "runtime/fmt.h"
#include "runtime/txt.h"

namespace {

TEST(TextConstant, IsStoredAndReadsPlainAfterFirstUse) {
    static bool first_use = true;  // a repeat in the same process finds its texts read already
    char* t = T("Hello, scanner");
    EXPECT_EQ(first_use ? static_cast<unsigned char>(t[0]) & 0xE0 : 0x80u, 0x80u) << "not stored";
    EXPECT_EQ(std::string(txt_unscramble(t)), "Hello, scanner");
    EXPECT_EQ(std::string(txt_unscramble(t)), "Hello, scanner");  // a second time leaves it alone
    // 0xA7 plus the first key wraps to 0, so the key itself is stored.
    unsigned key = textconst::advance(textconst::kStart) % 255;
    ASSERT_EQ((0xA7 + key) % 256, 0u);
    char* k = T("\xA7x");
    EXPECT_EQ(first_use ? static_cast<unsigned char>(k[1]) : key, key);
    first_use = false;
    EXPECT_STREQ(txt_unscramble(k), "\xA7x");
    // Read plain, a text past the markers whose bytes would pass the check
    // stays plain.
    char* p = T("\xA0" "AA");
    txt_unscramble(p);
    EXPECT_STREQ(txt_unscramble(p), "\xA0" "AA");
}

TEST(Text, RoutinesAcceptConstantsUnreadAndOneCharacterValues) {
    char buffer[64];
    memset(buffer, '#', sizeof buffer);
    buffer[0] = 0;
    txt_append(buffer, T("COM"));
    txt_append(buffer, txt_char('7'));
    EXPECT_STREQ(buffer, "COM7");
    EXPECT_EQ(txt_compare(buffer, T("COM7")), 0);
    EXPECT_GT(txt_compare("\x80", "z"), 0);  // unsigned, as the text fuzz target checks at length
    txt_prepend(buffer, T("n="));
    txt_prepend(buffer, "");
    EXPECT_STREQ(buffer, "n=COM7");
    char target[32] = "";
    txt_copy(target, T("  padded \t\r\n\v\f"));
    txt_trim_right(target);
    EXPECT_STREQ(target, "  padded");
    EXPECT_EQ(txt_trim_left(target), 'p');
    EXPECT_STREQ(target, "padded");
    EXPECT_STREQ(txt_skip_blanks("\t 42 "), "42 ");
}

// Each routine on data that reads as a stored text; length, joining to it,
// search, replace, compare and number reading get such data from the text fuzz target.
struct Use {
    const char* routine;
    std::function<std::string(char*)> run;  // what it made of the text: the text itself
};

const Use kUses[] = {
    {"copy", [](char* t) { char d[32]; txt_copy(d, t); return std::string(d); }},
    {"copy_n", [](char* t) { char d[32]; txt_copy_n(d, t, 30); return std::string(d); }},
    {"append to", [](char* t) { txt_append(t, ""); return std::string(t); }},
    {"prepend to", [](char* t) { txt_prepend(t, ""); return std::string(t); }},
    {"trim right", [](char* t) { txt_trim_right(t); return std::string(t); }},
    {"trim left", [](char* t) { char d[32] = " \t"; txt_trim_left(strcat(d, t)); return std::string(d); }},
    {"skip blanks", [](char* t) { return std::string(txt_skip_blanks(t)); }},
    {"format", [](char* t) { char d[32]; fmt_format(d, "%s", t); return std::string(d); }},
};

// The command line's arguments come back as the shell gave them: the POSIX
// layer quotes them by these rules.
TEST(Text, ArgumentsAreReadByTheWindowsQuotingRules) {
    const char* cases[][2] = {{"  a  b\t", "a|b|"}, {"\"p q\" \"\"", "p q||"}, {"a\\\\b \\\\\"x y\"", "a\\\\b|\\x y|"},
        {"\"a\\\"b\" \\\\\\\"c", "a\"b|\\\"c|"}, {"\"q\"\"u\" o\"t e\"s", "q\"u|ot es|"}, {"\"x\\\\\" y", "x\\|y|"},
        {"\"open end", "open end|"}};
    for (auto c : cases) {
        char word[64];
        std::string got;
        for (const char* at = c[0]; (at = txt_next_arg(at, word)) != nullptr;) got += std::string(word) + "|";
        EXPECT_EQ(got, c[1]) << c[0];
    }
}

TEST(TextBytes, DataThatReadsAsAStoredTextIsNeverRewritten) {
    const char* stored = T("scanner");  // its stored form, copied before its first use
    const std::string lookalikes[] = {"\x80 33", "\x85\x05", stored};  // 0x80^' '^'3'^'3' passes the check
    for (const std::string& text : lookalikes) {
        ASSERT_GE(static_cast<unsigned char>(text[0]), 0x80);
        for (const Use& use : kUses) {
            char t[32];
            strcpy(t, text.c_str());
            EXPECT_EQ(use.run(t), text) << use.routine << " on " << &text - lookalikes;
            EXPECT_EQ(std::string(t), text) << use.routine << " on " << &text - lookalikes;
        }
    }
}

}  // namespace
