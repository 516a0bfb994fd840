// Reading a decimal number from any text: the result code, the value and
// where the reading stopped, against a plain reading of the same rules
// (blanks skipped, one optional minus, digits; a value beyond the signed
// 32-bit range is an overflow).
#include <string>
#include "expect.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    const std::string plain = text;  // whatever its bytes, even those of a stored text constant
    const char* end = nullptr;
    int32_t value = 12345;
    int r = num_parse(text.data(), &end, &value);
    EXPECT(text == plain);  // reading changes nothing
    size_t i = plain.find_first_not_of(" \t\n\v\f\r");
    i = i == std::string::npos ? plain.size() : i;
    bool negative = i < plain.size() && plain[i] == '-';
    size_t first = i += negative;
    int64_t v = 0;
    for (; i < plain.size() && plain[i] >= '0' && plain[i] <= '9'; ++i)
        if ((v = v * 10 + (plain[i] - '0')) > 2147483647LL + negative) return EXPECT(r == 1), 0;
    if (i == first) return EXPECT(r == 2 && end == text.data() + i), 0;
    EXPECT(r == 0 && end == text.data() + i && value == static_cast<int32_t>(negative ? -v : v) &&
           num_parse(text.data(), nullptr, nullptr) == 0);  // also without places for the results
    return 0;
}
