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

TEST(Formatter, EachDirectiveAsAnExample) {
    const char* null_text = nullptr;
    int local = 0;
    const std::pair<std::string, const char*> cases[] = {
        {fmt("100%%"), "100%"}, {fmt(""), ""}, {fmt(T("COM%i"), 3), "COM3"},
        // Width: upper case pads behind, lower in front; a zero pads with zeros.
        {fmt("%5i|", 42), "   42|"}, {fmt("%5I|", 42), "42   |"}, {fmt("%05I|", 42), "42000|"},
        {fmt("%05i", -5), "000-5"}, {fmt("%2i", 12345), "12345"}, {fmt("%*i|", 4, 7), "   7|"},
        {fmt("%6S|", "ab"), "ab    |"},
        // Zero suppression, which also blanks the "%" right behind; the zero-pad flag is dropped.
        {fmt("%-i%%", 0), "- "}, {fmt("% i%%", 0), "  "}, {fmt("%-i%%", 7), "7%"}, {fmt("%-03i", 0), "  -"},
        {fmt("%-i%% %i%%", 0, 0), "-  0%"},
        // Grouping: "," from five digits on, ";" from four.
        {fmt("%,i", 1234), "1234"}, {fmt("%,i", -12345), "-12,345"}, {fmt("%;i", 1234), "1,234"},
        {fmt("%;i", 123), "123"}, {fmt("%;i", -123456), "-123,456"}, {fmt("%,i", 1234567), "1,234,567"},
        {fmt("%;x", 0x123456), "123,456"},
        // Decimals inserted into integers; the run after "." decides the padding.
        {fmt("%.2i", 5), "0.05"}, {fmt("%.2i", -5), "-0.05"}, {fmt("%10.2i|", 1462500), "  14625.00|"},
        {fmt("%,.1i", -12345), "-1,234.5"}, {fmt("%,.1i", 12345), "1234.5"}, {fmt("%;.2i", 1234567), "12,345.67"},
        {fmt("%3.i", 5), "0.005"}, {fmt("%.i|", 5), "5|"}, {fmt("%05.2i", 5), " 0.05"}, {fmt("%06.02i", 5), "000.05"},
        // Bases; 32 bits unless "~", which does not take two arguments.
        {fmt("%x", 255), "FF"}, {fmt("%y", 0xBEEF), "BEEF"}, {fmt("%b", 5), "101"}, {fmt("%u", -1), "4294967295"},
        {fmt("%i", 4294967295u), "-1"}, {fmt("%~u", -1), "18446744073709551615"},
        {fmt("%~i", INT64_MIN), "-9223372036854775808"}, {fmt("%i", INT32_MIN), "-2147483648"},
        {fmt("%~u %i", 7, 8), "7 8"},
        // Texts and one-character values.
        {fmt("%s", 65), "A"}, {fmt("[%s]", T("text constant")), "[text constant]"}, {fmt("[%s]", 0), "[]"},
        // Unknown letters and formats ending inside a directive.
        {fmt("%q%i", 5), "?q5"}, {fmt("ab%5"), "ab    ?"}, {fmt("ab%"), "ab"}, {fmt("%*", 3), "  ?"},
        // Plural suffixes, moved by number conversions only.
        {fmt("%i entr%3p", 1), "1 entry"}, {fmt("%i entr%3p", 2), "2 entries"}, {fmt("%i box%4p", 1), "1 boxes"},
        {fmt("%i box%4p", 3), "3 box"}, {fmt("%i byte%5p", 0), "0 byte"}, {fmt("%i|%1p|%2p|%0p", 2), "2|s|es|"},
        {fmt("%i|%1p|%2p", 1), "1||"}, {fmt("%i %s%3p", 1, "x"), "1 xy"},
        // Trim; missing or mismatched arguments write "?".
        {fmt("%5i%W|", 3), "    3|"}, {fmt("%-5S%W", "ab"), "ab"}, {fmt("%i and %i", 1), "1 and ?"},
        {fmt("%s"), "?"}, {fmt("%s", 300), "?"}, {fmt("%s", -1), "?"}, {fmt("[%s]", null_text), "[]"},
        {fmt("%s", static_cast<const void*>(&local)), "?"}, {fmt("%3i|", 1, 2, 3), "  1|"}};
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

// The rest of the rules against a plain reading of them: the text fuzz target.
TEST(NumParse, TheMostNegativeNumberAStoredTextAndNothingTouchedOnAnOverflow) {
    const struct { const char* text; int result, value, used; } cases[] = {  // used: characters before the end
        {"-2147483648", 0, INT32_MIN, 11}, {"-2147483649", 1, 99, 0}, {T(" 3x"), 0, 3, 2}};
    for (const auto& c : cases) {
        int32_t v = 99;
        const char* text = txt_unscramble(c.text);
        const char* end = text;  // left alone on an overflow
        EXPECT_EQ(num_parse(text, &end, &v), c.result) << text;
        EXPECT_EQ(v, c.value) << text;
        EXPECT_EQ(end, text + c.used) << text;
    }
}

}  // namespace
