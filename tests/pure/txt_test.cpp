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
        if (e == 0) e = key;
        out += static_cast<char>(e);
        check ^= e;
    }
    out[0] = static_cast<char>(0x80 | (check & 0x1F));
    return out;
}

TEST(TextConstant, IsStoredScrambledAndReadsPlainAfterFirstUse) {
    char* t = T("[Autobaud]");
    EXPECT_GE(static_cast<unsigned char>(t[0]), 0x80);
    EXPECT_LE(static_cast<unsigned char>(t[0]), 0x9F);
    EXPECT_NE(std::string(t + 1), "[Autobaud]");
    EXPECT_EQ(std::string(txt_unscramble(t)), "[Autobaud]");
    // A second unscramble leaves the plain text alone.
    EXPECT_EQ(std::string(txt_unscramble(t)), "[Autobaud]");
    EXPECT_EQ(txt_len(T("twelve chars")), 12);
}

TEST(TextConstant, BuildStepAgreesWithAHandMadeStoredForm) {
    std::string stored = store("Hello, scanner");
    EXPECT_EQ(0, memcmp(T("Hello, scanner"), stored.c_str(), stored.size() + 1));
}

TEST(TextConstant, StoredByteEqualToItsKeyDecodesTo256MinusKey) {
    // 0xA7 plus the first key wraps to 0, so the key itself is stored.
    unsigned key = textconst::advance(textconst::kStart) % 255;
    ASSERT_EQ((0xA7 + key) % 256, 0u);
    char* t = T("\xA7x");
    EXPECT_EQ(static_cast<unsigned char>(t[1]), key);
    EXPECT_STREQ(txt_unscramble(t), "\xA7x");
}

TEST(TextConstant, EveryRoutineAcceptsAConstantUnread) {
    char buffer[64] = "";
    txt_append(buffer, T("COM"));
    txt_append(buffer, txt_char('7'));
    EXPECT_STREQ(buffer, "COM7");
    EXPECT_EQ(txt_compare(buffer, T("COM7")), 0);
    EXPECT_NE(txt_find(buffer, T("M7")), nullptr);
    char target[32] = "";
    txt_copy(target, T("  padded  "));
    txt_trim_right(target);
    EXPECT_STREQ(target, "  padded");
}

TEST(Text, CopyNWritesAtMostNCharactersAndATerminator) {
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    txt_copy_n(buffer, "abcdef", 3);
    EXPECT_EQ(std::string(buffer, 5), std::string("abc\0#", 5));
    txt_copy_n(buffer, "abcdef", 0);
    EXPECT_EQ(buffer[0], 0);
    txt_copy_n(buffer, "abcdef", -5);
    EXPECT_EQ(buffer[0], 0);
}

TEST(Text, PrependMovesTheTextRight) {
    char buffer[16] = "12";
    txt_prepend(buffer, txt_char(0x2D));
    EXPECT_STREQ(buffer, "-12");
    txt_prepend(buffer, "");
    EXPECT_STREQ(buffer, "-12");
    txt_prepend(buffer, T("n="));
    EXPECT_STREQ(buffer, "n=-12");
}

TEST(Text, FindCharactersAndTexts) {
    char hay[] = "SIG,512";
    EXPECT_EQ(txt_find(hay, txt_char(',')), hay + 3);
    EXPECT_EQ(txt_find(hay, txt_char(0)), nullptr);
    EXPECT_EQ(txt_find(hay, ""), nullptr);
    EXPECT_EQ(txt_find(hay, "512"), hay + 4);
    EXPECT_EQ(txt_find(hay, "5129"), nullptr);
    EXPECT_EQ(txt_find(hay, txt_char('x')), nullptr);
}

TEST(Text, ReplaceResumesBehindWhatItInserted) {
    char text[32] = "aaa";
    EXPECT_EQ(txt_replace(text, txt_char('a'), "aa"), 3);
    EXPECT_STREQ(text, "aaaaaa");
    char shrink[32] = "one, two, three";
    EXPECT_EQ(txt_replace(shrink, ", ", txt_char(';')), 2);
    EXPECT_STREQ(shrink, "one;two;three");
    char none[8] = "abc";
    EXPECT_EQ(txt_replace(none, "", "x"), 0);
    EXPECT_STREQ(none, "abc");
}

TEST(Text, CompareIsUnsignedAndStopsAtN) {
    EXPECT_EQ(txt_compare("\x80", "z"), 1);
    EXPECT_EQ(txt_compare("a", "\xff"), -1);
    EXPECT_EQ(txt_compare("ab", "abc"), -1);
    EXPECT_EQ(txt_compare("abc", "ab"), 1);
    EXPECT_EQ(txt_compare("", ""), 0);
    EXPECT_EQ(txt_compare_n("abcX", "abcY", 3), 0);
    EXPECT_EQ(txt_compare_n("abcX", "abcY", 4), -1);
    EXPECT_EQ(txt_compare_n("\xe9", "e", 1), 1);
    EXPECT_EQ(txt_compare_n("ab", "ab", 10), 0);
}

TEST(Text, TrimAndSkipBlanks) {
    char text[16] = "  \t x";
    EXPECT_EQ(txt_trim_left(text), 'x');
    EXPECT_STREQ(text, "x");
    char blanks[8] = " \r\n";
    EXPECT_EQ(txt_trim_left(blanks), 0);
    EXPECT_STREQ(blanks, "");
    char right[16] = "x \t\r\n\v\f";
    txt_trim_right(right);
    EXPECT_STREQ(right, "x");
    char all[8] = "   ";
    txt_trim_right(all);
    EXPECT_STREQ(all, "");
    EXPECT_STREQ(txt_skip_blanks("\t 42 "), "42 ");
    EXPECT_STREQ(txt_skip_blanks("  "), "");
}

TEST(Text, CharacterClasses) {
    EXPECT_EQ(char_class['A'], CC_UPPER);
    EXPECT_EQ(char_class['z'], CC_LOWER);
    EXPECT_EQ(char_class['5'], CC_DIGIT);
    for (int c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20}) EXPECT_EQ(char_class[c], CC_BLANK) << c;
    EXPECT_EQ(char_class[0x08], 0);
    EXPECT_EQ(char_class['_'], 0);
    for (int c = 0x80; c < 256; ++c) EXPECT_EQ(char_class[c], 0) << c;
}

TEST(MemMove, OverlapsEitherWayInWordsAndBytes) {
    alignas(4) char words[16] = "abcdefghijkl";
    mem_move(words, words + 4, 8);  // upwards, whole words
    EXPECT_EQ(std::string(words, 12), "abcdabcdefgh");
    alignas(4) char down[16] = "abcdefghijkl";
    mem_move(down + 4, down, 8);
    EXPECT_EQ(std::string(down, 12), "efghijklijkl");
    char bytes[8] = "abcdef";
    mem_move(bytes, bytes + 1, 7);
    EXPECT_STREQ(bytes, "aabcdef");
    mem_move(bytes + 1, bytes, 0);
    EXPECT_STREQ(bytes, "aabcdef");
}

}  // namespace
