// The formatter's directive language and the decimal reader.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "runtime/fmt.h"
#include "runtime/txt.h"

namespace {

template <typename... A>
std::string fmt(const char* format, const A&... args) {
    char buffer[512];
    memset(buffer, '#', sizeof buffer);
    int n = fmt_format(buffer, format, args...);
    EXPECT_EQ(n, static_cast<int>(strlen(buffer))) << format;
    return buffer;
}

TEST(Formatter, PlainTextAndPercent) {
    EXPECT_EQ(fmt("no directives"), "no directives");
    EXPECT_EQ(fmt("100%%"), "100%");
    EXPECT_EQ(fmt(""), "");
    EXPECT_EQ(fmt(T("COM%i"), 3), "COM3");
}

TEST(Formatter, WidthPadsInFrontOrBehindByLetterCase) {
    EXPECT_EQ(fmt("%5i|", 42), "   42|");
    EXPECT_EQ(fmt("%5I|", 42), "42   |");
    EXPECT_EQ(fmt("%05I|", 42), "42000|");
    EXPECT_EQ(fmt("%05i", -5), "000-5");
    EXPECT_EQ(fmt("%2i", 12345), "12345");
    EXPECT_EQ(fmt("%*i|", 4, 7), "   7|");
    EXPECT_EQ(fmt("%6S|", "ab"), "ab    |");
}

TEST(Formatter, ZeroSuppressionAndTheFollowingPercent) {
    EXPECT_EQ(fmt("%-i%%", 0), "- ");
    EXPECT_EQ(fmt("% i%%", 0), "  ");
    EXPECT_EQ(fmt("%-i%%", 7), "7%");
    EXPECT_EQ(fmt("%-03i", 0), "  -");  // the zero-pad flag is dropped
    // The flag lasts until the next conversion directive only.
    EXPECT_EQ(fmt("%-i%% %i%%", 0, 0), "-  0%");
}

TEST(Formatter, GroupingByCommaAndSemicolon) {
    EXPECT_EQ(fmt("%,i", 1234), "1234");
    EXPECT_EQ(fmt("%,i", 12345), "12,345");
    EXPECT_EQ(fmt("%,i", -1234), "-1234");
    EXPECT_EQ(fmt("%,i", -12345), "-12,345");
    EXPECT_EQ(fmt("%;i", 1234), "1,234");
    EXPECT_EQ(fmt("%;i", 123), "123");
    EXPECT_EQ(fmt("%;i", -123456), "-123,456");
    EXPECT_EQ(fmt("%,i", 1234567), "1,234,567");
    EXPECT_EQ(fmt("%;x", 0x123456), "123,456");
}

TEST(Formatter, DecimalsInsertedIntoIntegers) {
    EXPECT_EQ(fmt("%.2i", 5), "0.05");
    EXPECT_EQ(fmt("%.2i", -5), "-0.05");
    EXPECT_EQ(fmt("%8.2i|", 1462500), "14625.00|");
    EXPECT_EQ(fmt("%10.2i|", 1462500), "  14625.00|");
    EXPECT_EQ(fmt("%,.1i", -12345), "-1,234.5");
    EXPECT_EQ(fmt("%,.1i", 12345), "1234.5");
    EXPECT_EQ(fmt("%;.2i", 1234567), "12,345.67");
    EXPECT_EQ(fmt("%3.i", 5), "0.005");   // width 3 and 3 decimals
    EXPECT_EQ(fmt("%.i|", 5), "5|");      // width 1, no decimals
    EXPECT_EQ(fmt("%05.2i", 5), " 0.05");  // the run after "." decides the padding
    EXPECT_EQ(fmt("%06.02i", 5), "000.05");
}

TEST(Formatter, BasesAndSixtyFourBits) {
    EXPECT_EQ(fmt("%x", 255), "FF");
    EXPECT_EQ(fmt("%y", 0xBEEF), "BEEF");
    EXPECT_EQ(fmt("%b", 5), "101");
    EXPECT_EQ(fmt("%u", -1), "4294967295");
    EXPECT_EQ(fmt("%i", 4294967295u), "-1");  // 32 bits without "~"
    EXPECT_EQ(fmt("%~u", -1), "18446744073709551615");
    EXPECT_EQ(fmt("%~i", INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(fmt("%~x", 0x123456789ABCDEFULL), "123456789ABCDEF");
    EXPECT_EQ(fmt("%~b", 0), "0");
    EXPECT_EQ(fmt("%i", INT32_MIN), "-2147483648");
    // "~" makes one argument count with all its bits; it does not take two.
    EXPECT_EQ(fmt("%~u %i", 7, 8), "7 8");
}

TEST(Formatter, TextsAndOneCharacterValues) {
    EXPECT_EQ(fmt("%s", 65), "A");
    EXPECT_EQ(fmt("[%s]", T("text constant")), "[text constant]");
    char plain[] = "abc";
    EXPECT_EQ(fmt("%s%s", plain, txt_char('!')), "abc!");
    EXPECT_EQ(fmt("[%s]", 0), "[]");
}

TEST(Formatter, UnknownLettersAndFormatsEndingInsideADirective) {
    EXPECT_EQ(fmt("%q%i", 5), "?q5");
    EXPECT_EQ(fmt("ab%5"), "ab    ?");
    EXPECT_EQ(fmt("ab%"), "ab");
    EXPECT_EQ(fmt("ab%,"), "ab");
    EXPECT_EQ(fmt("%*", 3), "  ?");
}

TEST(Formatter, PluralSuffixes) {
    EXPECT_EQ(fmt("%i entr%3p", 1), "1 entry");
    EXPECT_EQ(fmt("%i entr%3p", 2), "2 entries");
    EXPECT_EQ(fmt("%i box%4p", 1), "1 boxes");
    EXPECT_EQ(fmt("%i box%4p", 3), "3 box");
    EXPECT_EQ(fmt("%i byte%5p", 1), "1 bytes");
    EXPECT_EQ(fmt("%i byte%5p", 0), "0 byte");
    EXPECT_EQ(fmt("%i|%1p|%2p|%0p", 2), "2|s|es|");
    EXPECT_EQ(fmt("%i|%1p|%2p", 1), "1||");
    // Only number conversions move the plural flag.
    EXPECT_EQ(fmt("%i %s%3p", 1, "x"), "1 xy");
}

TEST(Formatter, AppendAndTrim) {
    char buffer[64] = "kept: ";
    EXPECT_EQ(fmt_format(buffer, "%>%i", 5), 7);
    EXPECT_STREQ(buffer, "kept: 5");
    char trimmed[64] = "head \t ";
    EXPECT_EQ(fmt_format(trimmed, "%>%Wtail"), 8);
    EXPECT_STREQ(trimmed, "headtail");
    EXPECT_EQ(fmt("%5i%W|", 3), "    3|");
    EXPECT_EQ(fmt("%-5S%W", "ab"), "ab");
}

TEST(Formatter, MissingOrMismatchedArgumentsWriteAQuestionMark) {
    EXPECT_EQ(fmt("%i and %i", 1), "1 and ?");
    EXPECT_EQ(fmt("%s"), "?");
    EXPECT_EQ(fmt("%s", 300), "?");
    EXPECT_EQ(fmt("%s", -1), "?");
    const char* null_text = nullptr;  // the one-character value 0: an empty text
    EXPECT_EQ(fmt("[%s]", null_text), "[]");
    int local = 0;
    EXPECT_EQ(fmt("%s", static_cast<const void*>(&local)), "?");
    EXPECT_EQ(fmt("%3i|", 1, 2, 3), "  1|");
    // A text given to a number conversion shows its address.
    const char* text = "x";
    EXPECT_EQ(fmt("%~x", text), fmt("%~x", reinterpret_cast<uintptr_t>(text)));
}

TEST(NumParse, ReadsSignedDecimalsWithinThirtyTwoBits) {
    int32_t v = 99;
    const char* end = nullptr;
    const char* text = "  -42 rest";
    EXPECT_EQ(num_parse(text, &end, &v), 0);
    EXPECT_EQ(v, -42);
    EXPECT_STREQ(end, " rest");
    EXPECT_EQ(num_parse("2147483647", &end, &v), 0);
    EXPECT_EQ(v, 2147483647);
    EXPECT_EQ(num_parse("-2147483648", &end, &v), 0);
    EXPECT_EQ(v, INT32_MIN);
    const char* big = "2147483648";
    end = big;
    EXPECT_EQ(num_parse(big, &end, &v), 1);
    EXPECT_EQ(end, big);  // not stored on overflow
    EXPECT_EQ(num_parse("-2147483649", nullptr, nullptr), 1);
    EXPECT_EQ(num_parse("99999999999999999999999", nullptr, &v), 1);
}

TEST(NumParse, NoDigitLeavesTheEndBehindBlanksAndSign) {
    int32_t v = 5;
    const char* end = nullptr;
    const char* text = " \t-x";
    EXPECT_EQ(num_parse(text, &end, &v), 2);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(end, text + 3);
    EXPECT_EQ(num_parse("", nullptr, nullptr), 2);
    EXPECT_EQ(num_parse("-", nullptr, nullptr), 2);
    EXPECT_EQ(num_parse(T(" 3x"), &end, &v), 0);
    EXPECT_EQ(v, 3);
    EXPECT_STREQ(end, "x");
}

}  // namespace
