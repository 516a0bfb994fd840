// The text routines on arbitrary bytes against std::string: length, join,
// search, replace, compare, the overlapping move; and the input's texts as
// stored constants (the build step's scrambling, done here at run time)
// read back as the texts they were made from.
// Input: a flags byte, a number byte, then three texts split at NULs.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include "expect.h"
#include "runtime/txt.h"

namespace {
bool marker(char c) { return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) <= 0x9F; }

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

// A text as the routines will read it: made plain once, and then no
// longer taken for a constant (else every routine would change it again).
bool settle(std::string* t) {
    txt_unscramble(t->data());
    t->resize(strlen(t->c_str()));
    std::string again = *t;
    return txt_unscramble(again.data()), again == *t;
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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return -1;
    const uint8_t flags = data[0], number = data[1];
    const std::string all(reinterpret_cast<const char*>(data + 2), size - 2);
    std::string parts[3];
    for (size_t i = 0, at = 0; i < 3; ++i) {
        size_t end = std::min(all.find('\0', at), all.size());
        parts[i] = all.substr(std::min(at, all.size()), end - std::min(at, all.size()));
        at = end + 1;
    }
    // Stored constants read back as their plain texts (the build step makes
    // none that begins with a marker byte: it could be taken for one again).
    for (const std::string& p : parts) {
        if (p.empty() || marker(p[0])) continue;
        std::string s = stored(p);
        EXPECT(txt_len(s.data()) == static_cast<int>(p.size()) && s.c_str() == p &&
               txt_unscramble(s.data()) == s.data() && s.c_str() == p);  // and a second pass leaves it
    }
    std::string a = parts[0], b = parts[1], c = parts[2];
    if (!settle(&a) || !settle(&b) || !settle(&c)) return -1;
    // The second text may come in stored form: each routine takes it as it comes.
    const bool store_b = flags & 1 && !parts[1].empty() && !marker(parts[1][0]);
    auto fresh_b = [&] { return store_b ? stored(parts[1]) : flags & 1 ? parts[1] : b; };
    const std::string one(1, static_cast<char>(number));  // txt_char(number) as a text

    EXPECT(txt_len(a.data()) == static_cast<int>(a.size()));
    std::string src = fresh_b(), h = a;
    auto d = exact(a, a.size() + b.size() + 1);
    txt_append(d.data(), src.data());
    EXPECT(d.data() == a + b);
    char* found = txt_find(h.data(), (src = fresh_b()).data());
    size_t at = b.empty() ? std::string::npos : a.find(b);
    EXPECT(found == (at == std::string::npos ? nullptr : h.data() + at));
    // Compared as unsigned bytes, as std::string compares.
    EXPECT(sign(txt_compare(a.data(), (src = fresh_b()).data())) == sign(a.compare(b)));
    EXPECT(sign(txt_compare_n(a.data(), (src = fresh_b()).data(), number % 8 + 1)) ==
           sign(a.substr(0, number % 8 + 1).compare(b.substr(0, number % 8 + 1))));
    // A match found after a replacement starts a new search there, and that
    // search makes a constant-like remainder plain: keep to texts that
    // cannot hold a marker byte, where the plain rule applies.
    auto plain_only = [](const std::string& t) { return std::none_of(t.begin(), t.end(), marker); };
    if (plain_only(a + b + c)) {
        for (bool by_char : {false, true}) {
            if (by_char && (number == 0 || marker(one[0]))) continue;
            int want = 0;
            std::string result = replaced(a, by_char ? one : b, c, &want), to = c;
            d = exact(a, std::max(a.size(), result.size()) + 1);
            src = fresh_b();
            EXPECT(txt_replace(d.data(), by_char ? txt_char(number) : src.data(), to.data()) == want);
            EXPECT(d.data() == result);
        }
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
