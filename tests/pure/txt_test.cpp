// Texts and text constants.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/txt.h"

namespace {

// The stored form of a plain text, made the way the build step makes it.
std::string store(const std::string& plain) {
    std::string out(1, '\0');
    uint16_t state = textconst::kStart;
    unsigned check = 0;
    for (unsigned char p : plain) {
        state = textconst::advance(state);
        unsigned key = state % 255;
        unsigned e = (p + key) & 0xFF;
        out += static_cast<char>(e == 0 ? key : e);
        check ^= e == 0 ? key : e;
    }
    out[0] = static_cast<char>(0x80 | (check & 0x1F));
    return out;
}

TEST(TextConstant, IsStoredAsTheBuildStepMakesItAndReadsPlainAfterFirstUse) {
    char* t = T("Hello, scanner");
    std::string stored = store("Hello, scanner");
    EXPECT_EQ(0, memcmp(t, stored.c_str(), stored.size() + 1));
    EXPECT_EQ(std::string(txt_unscramble(t)), "Hello, scanner");
    EXPECT_EQ(std::string(txt_unscramble(t)), "Hello, scanner");  // a second time leaves it alone
    // 0xA7 plus the first key wraps to 0, so the key itself is stored.
    unsigned key = textconst::advance(textconst::kStart) % 255;
    ASSERT_EQ((0xA7 + key) % 256, 0u);
    char* k = T("\xA7x");
    EXPECT_EQ(static_cast<unsigned char>(k[1]), key);
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

TEST(Text, FindReplaceAndCompare) {
    char hay[] = "SIG,512";
    EXPECT_EQ(txt_find(hay, txt_char(',')), hay + 3);
    EXPECT_EQ(txt_find(hay, "512"), hay + 4);
    for (const char* absent : {txt_char(0), "", "5129", txt_char('x')}) EXPECT_EQ(txt_find(hay, absent), nullptr);
    char text[32] = "aaa";  // resumes behind what it inserted
    EXPECT_EQ(txt_replace(text, txt_char('a'), "aa"), 3);
    EXPECT_STREQ(text, "aaaaaa");
    char shrink[32] = "one, two, three";
    EXPECT_EQ(txt_replace(shrink, ", ", txt_char(';')), 2);
    EXPECT_STREQ(shrink, "one;two;three");
    // Compared as unsigned bytes, and only up to n.
    const struct { const char *a, *b; int n, want; } cases[] = {{"\x80", "z", -1, 1}, {"ab", "abc", -1, -1},
        {"", "", -1, 0}, {"abcX", "abcY", 3, 0}, {"abcX", "abcY", 4, -1}, {"\xe9", "e", 1, 1}, {"ab", "ab", 10, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c.n < 0 ? txt_compare(c.a, c.b) : txt_compare_n(c.a, c.b, c.n), c.want) << c.a << " " << c.b;
}

}  // namespace
