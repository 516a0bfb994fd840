// The text routines on arbitrary bytes against std::string: length, join,
// search, replace, compare, number reading, the overlapping move. A flag
// turns the second text into the stored form of a text constant: being
// data, not one of the program's own texts, it must go through every
// routine as the bytes it is.
// Input: a flags byte, a number byte, then three texts split at NULs.
#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>
#include "expect.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"

namespace {
// The stored form that T("...") gives plain, made the build step's way.
std::string stored(const std::string& plain) {
    std::string out(1, '\0');
    uint16_t state = textconst::kStart;
    unsigned check = 0;
    for (char ch : plain) {
        state = textconst::advance(state);
        unsigned key = state % 255, e = (static_cast<unsigned char>(ch) + key) & 0xFF;
        out += static_cast<char>(e == 0 ? key : e);
        check ^= e == 0 ? key : e;
    }
    out[0] = static_cast<char>(0x80 | (check & 0x1F));
    return out;
}

// A buffer of exactly `room` bytes holding text, so that the sanitizer sees any byte beyond.
std::vector<char> exact(const std::string& text, size_t room) {
    std::vector<char> b(room);
    memcpy(b.data(), text.c_str(), text.size() + 1);
    return b;
}

int sign(int v) { return v < 0 ? -1 : v > 0; }

std::string replaced(std::string t, const std::string& from, const std::string& to, int* count) {
    *count = 0;
    for (size_t at = from.empty() ? std::string::npos : t.find(from); at != std::string::npos; at = t.find(from, at + to.size()))
        t.replace(at, from.size(), to), ++*count;
    return t;
}

// Reading a decimal number against a plain reading of the same rules:
// blanks skipped, one optional minus, digits; beyond the signed 32-bit
// range an overflow. The text, whatever its bytes, is left as it was.
void check_num_parse(const std::string& plain) {
    std::string text = plain;
    const char* end = nullptr;
    int32_t value = 12345;
    int r = num_parse(text.data(), &end, &value);
    EXPECT(text == plain);
    size_t i = std::min(plain.find_first_not_of(" \t\n\v\f\r"), plain.size());
    bool negative = i < plain.size() && plain[i] == '-';
    size_t first = i += negative;
    int64_t v = 0;
    for (; i < plain.size() && plain[i] >= '0' && plain[i] <= '9'; ++i)
        if ((v = v * 10 + (plain[i] - '0')) > 2147483647LL + negative) return EXPECT(r == 1);
    if (i == first) return EXPECT(r == 2 && end == text.data() + i);
    EXPECT(r == 0 && end == text.data() + i && value == static_cast<int32_t>(negative ? -v : v) &&
           num_parse(text.data(), nullptr, nullptr) == 0);  // also without places for the results
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return -1;
    const uint8_t flags = data[0], number = data[1];
    const std::string all(reinterpret_cast<const char*>(data + 2), size - 2);
    std::istringstream in(all);
    std::string parts[3];
    for (std::string& part : parts) std::getline(in, part, '\0');
    if (flags & 1 && !parts[1].empty()) parts[1] = stored(parts[1]);
    const std::string a = parts[0], b = parts[1], c = parts[2];
    const std::string one(1, static_cast<char>(number));  // txt_char(number) as a text

    EXPECT(txt_len(a.data()) == static_cast<int>(a.size()));
    check_num_parse(a), check_num_parse(b);
    std::string src = b, h = a;
    auto d = exact(a, a.size() + b.size() + 1);
    txt_append(d.data(), src.data());
    EXPECT(d.data() == a + b && src == b);
    char* found = txt_find(h.data(), src.data());
    size_t at = b.empty() ? std::string::npos : a.find(b);
    EXPECT(found == (at == std::string::npos ? nullptr : h.data() + at) && src == b);
    // Compared as unsigned bytes, as std::string compares.
    EXPECT(sign(txt_compare(a.data(), src.data())) == sign(a.compare(b)));
    EXPECT(sign(txt_compare_n(a.data(), src.data(), number % 8 + 1)) ==
           sign(a.substr(0, number % 8 + 1).compare(b.substr(0, number % 8 + 1))));
    for (bool by_char : {false, true}) {
        if (by_char && number == 0) continue;
        int want = 0;
        std::string result = replaced(a, by_char ? one : b, c, &want), to = c;
        d = exact(a, std::max(a.size(), result.size()) + 1);
        EXPECT(txt_replace(d.data(), by_char ? txt_char(number) : src.data(), to.data()) == want);
        EXPECT(d.data() == result && src == b);
    }
    // Overlapping moves in both directions, by words and by bytes.
    if (!all.empty()) {
        std::vector<uint8_t> buffer(all.begin(), all.end()), want = buffer;
        size_t from = number % buffer.size(), to = (flags >> 1) % buffer.size();
        size_t count = (buffer.size() - std::max(from, to)) & (flags & 0x80 ? ~size_t(3) : ~size_t(0));
        memmove(want.data() + to, want.data() + from, count);
        mem_move(buffer.data() + from, buffer.data() + to, static_cast<int64_t>(count));
        EXPECT(buffer == want);
    }
    return 0;
}
