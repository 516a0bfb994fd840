// Reading a decimal number from any text: the result code, the value and
// where the reading stopped, against a plain reading of the same rules
// (blanks skipped, one optional minus, digits; a value beyond the signed
// 32-bit range is an overflow).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "expect.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"

namespace {
bool blank(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }
bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    const std::string plain = text;  // whatever its bytes, even those of a stored text constant

    const char* end = nullptr;
    int32_t value = 12345;
    int r = num_parse(text.data(), &end, &value);
    EXPECT(text == plain);  // reading changes nothing

    size_t i = 0;
    while (i < plain.size() && blank(static_cast<unsigned char>(plain[i]))) ++i;
    bool negative = i < plain.size() && plain[i] == '-';
    if (negative) ++i;
    size_t first = i;
    int64_t v = 0;
    bool overflow = false;
    while (i < plain.size() && digit(static_cast<unsigned char>(plain[i]))) {
        v = v * 10 + (plain[i++] - '0');
        if (v > (negative ? 2147483648LL : 2147483647LL)) {
            overflow = true;
            break;
        }
    }
    if (overflow) {
        EXPECT(r == 1);
        return 0;
    }
    if (i == first) {
        EXPECT(r == 2 && end == text.data() + i);
        return 0;
    }
    EXPECT(r == 0 && end == text.data() + i && value == static_cast<int32_t>(negative ? -v : v));

    // Without places for the results it reads the same.
    EXPECT(num_parse(text.data(), nullptr, nullptr) == 0);
    return 0;
}
