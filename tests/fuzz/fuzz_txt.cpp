// The text routines on arbitrary bytes, against plain std::string work on
// the same texts: length, copies, joins, search, replace, compare, trims,
// and the overlapping move. A flag turns the second text into the stored
// form of a text constant: being data, not the program's own text, it must
// go through every routine as the bytes it is.
//
// Input: a flags byte, a number byte, then three texts split at NULs.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "expect.h"
#include "runtime/txt.h"

namespace {

bool blank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// The stored form of a text constant, made the build step's way.
std::string stored(const std::string& plain) {
    std::string out(1, '\0');
    uint16_t state = textconst::kStart;
    unsigned check = 0;
    for (char ch : plain) {
        state = textconst::advance(state);
        unsigned key = state % 255;
        unsigned e = (static_cast<unsigned char>(ch) + key) & 0xFF;
        if (e == 0) e = key;
        out += static_cast<char>(e);
        check ^= e;
    }
    out[0] = static_cast<char>(0x80 | (check & 0x1F));
    return out;
}

// A buffer of exactly n bytes, so that the sanitizer sees any byte beyond.
struct Exact {
    std::vector<char> bytes;
    explicit Exact(const std::string& text, size_t room) : bytes(room) {
        memcpy(bytes.data(), text.c_str(), text.size() + 1);
    }
    char* data() { return bytes.data(); }
    std::string text() const { return std::string(bytes.data()); }
};

int sign(int v) { return v < 0 ? -1 : v > 0; }

int reference_compare(const std::string& a, const std::string& b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        unsigned y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
    return 0;
}

std::string reference_replace(std::string t, const std::string& from, const std::string& to, int* count) {
    *count = 0;
    if (from.empty()) return t;
    for (size_t at = t.find(from); at != std::string::npos; at = t.find(from, at + to.size())) {
        t.replace(at, from.size(), to);
        ++*count;
    }
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return -1;
    uint8_t flags = data[0], number = data[1];
    std::string all(reinterpret_cast<const char*>(data + 2), size - 2);
    std::string parts[3];
    for (size_t i = 0, at = 0; i < 3; ++i) {
        size_t end = all.find('\0', at);
        parts[i] = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? all.size() : end + 1;
    }

    if (flags & 1 && !parts[1].empty()) parts[1] = stored(parts[1]);
    const std::string a = parts[0], b = parts[1], c = parts[2];

    EXPECT(txt_len(a.data()) == static_cast<int>(a.size()));
    {
        Exact d("", a.size() + 1);
        txt_copy(d.data(), a.data());
        EXPECT(d.text() == a);
        int n = static_cast<int8_t>(number);
        size_t taken = n <= 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), a.size());
        Exact e("", taken + 1);
        txt_copy_n(e.data(), a.data(), n);
        EXPECT(e.text() == a.substr(0, taken));
    }
    {
        std::string src = b;
        Exact d(a, a.size() + b.size() + 1);
        txt_append(d.data(), src.data());
        EXPECT(d.text() == a + b);
        Exact p(a, a.size() + b.size() + 1);
        src = b;
        txt_prepend(p.data(), src.data());
        EXPECT(p.text() == b + a);
        if (number != 0) {
            Exact q(a, a.size() + 2);
            txt_prepend(q.data(), txt_char(number));
            EXPECT(q.text() == std::string(1, static_cast<char>(number)) + a);
            Exact r(a, a.size() + 2);
            txt_append(r.data(), txt_char(number));
            EXPECT(r.text() == a + static_cast<char>(number));
        }
    }
    {
        std::string h = a, src = b;
        char* found = txt_find(h.data(), src.data());
        size_t at = b.empty() ? std::string::npos : a.find(b);
        EXPECT(at == std::string::npos ? found == nullptr : found == h.data() + at);
        char* ch = txt_find(h.data(), txt_char(number));
        size_t cat = number == 0 ? std::string::npos : a.find(static_cast<char>(number));
        EXPECT(cat == std::string::npos ? ch == nullptr : ch == h.data() + cat);
    }
    {
        std::string src = b;
        EXPECT(sign(txt_compare(a.data(), src.data())) == reference_compare(a, b, SIZE_MAX));
        int n = number % 8 + 1;
        src = b;
        EXPECT(sign(txt_compare_n(a.data(), src.data(), n)) == reference_compare(a, b, static_cast<size_t>(n)));
        src = a;
        EXPECT(txt_compare(a.data(), src.data()) == 0);
    }
    {
        int want = 0;
        std::string result = reference_replace(a, b, c, &want);
        Exact t(a, std::max(a.size(), result.size()) + 1);
        std::string from = b, to = c;
        EXPECT(txt_replace(t.data(), from.data(), to.data()) == want);
        EXPECT(t.text() == result);
        if (number != 0) {
            char one[2] = {static_cast<char>(number), 0};
            result = reference_replace(a, one, c, &want);
            Exact u(a, std::max(a.size(), result.size()) + 1);
            to = c;
            EXPECT(txt_replace(u.data(), txt_char(number), to.data()) == want);
            EXPECT(u.text() == result);
        }
    }
    {
        std::string right = a;
        while (!right.empty() && blank(right.back())) right.pop_back();
        size_t lead = 0;
        while (lead < a.size() && blank(a[lead])) ++lead;
        Exact r(a, a.size() + 1);
        txt_trim_right(r.data());
        EXPECT(r.text() == right);
        Exact l(a, a.size() + 1);
        int first = txt_trim_left(l.data());
        EXPECT(l.text() == a.substr(lead));
        EXPECT(first == (lead < a.size() ? static_cast<unsigned char>(a[lead]) : 0));
        std::string s = a;
        EXPECT(txt_skip_blanks(s.data()) == s.data() + lead);
    }
    {
        // Overlapping moves in both directions, by words and by bytes.
        std::vector<uint8_t> buffer(all.begin(), all.end()), want = buffer;
        if (!buffer.empty()) {
            size_t from = number % buffer.size(), to = (flags >> 1) % buffer.size();
            size_t count = buffer.size() - std::max(from, to);
            if (flags & 0x80) count &= ~size_t(3);
            memmove(want.data() + to, want.data() + from, count);
            mem_move(buffer.data() + from, buffer.data() + to, static_cast<int64_t>(count));
            EXPECT(buffer == want);
        }
    }
    return 0;
}
