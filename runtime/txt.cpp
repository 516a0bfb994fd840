// Text routines, the character class table and the unscrambling of text
// constants (their stored form is made by tools/text_constant.h).
#include "runtime/txt.h"

#include <cstring>

// The run of sections that holds every text constant and nothing else
// (tools/text_constant.h). On PE the linker sorts ".data$..." sections by
// name, so these two enclose the constants' own.
#if defined(_WIN32)
[[gnu::section(".data$_ZN9textconst8Constant")]] static char rxmon_texts_begin[1];
[[gnu::section(".data$_ZN9textconst8Constant_end")]] static char rxmon_texts_end[1];
#else
extern "C" char rxmon_texts_begin[], rxmon_texts_end[];  // tools/text_constants.ld
#endif

namespace {
constexpr uint8_t class_of(int c) {
    if (c >= 'A' && c <= 'Z') return CC_UPPER;
    if (c >= 'a' && c <= 'z') return CC_LOWER;
    if (c >= '0' && c <= '9') return CC_DIGIT;
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return CC_BLANK;
    return 0;
}

bool is_text_constant(const char* text) {
    auto at = reinterpret_cast<uintptr_t>(text);
    return at >= reinterpret_cast<uintptr_t>(+rxmon_texts_begin) && at < reinterpret_cast<uintptr_t>(+rxmon_texts_end);
}

// A one-character value expanded into a text of its own.
struct CharText {
    char text[2];
    explicit CharText(const char*& t) : text{0, 0} {
        if (txt_is_char(t)) {
            text[0] = static_cast<char>(reinterpret_cast<uintptr_t>(t));
            t = text;
        } else {
            t = txt_unscramble(t);
        }
    }
};
}  // namespace

const uint8_t char_class[256] = {
#define R(i) class_of(i), class_of(i + 1), class_of(i + 2), class_of(i + 3)
#define R16(i) R(i), R(i + 4), R(i + 8), R(i + 12)
    R16(0),   R16(16),  R16(32),  R16(48),  R16(64),  R16(80),  R16(96),  R16(112),
    R16(128), R16(144), R16(160), R16(176), R16(192), R16(208), R16(224), R16(240),
#undef R16
#undef R
};

const char* txt_unscramble(const char* text) {
    if (txt_is_char(text)) return text;
    if (!is_text_constant(text)) return text;
    auto* t = reinterpret_cast<unsigned char*>(const_cast<char*>(text));
    unsigned marker = t[0];
    if (marker < 0x80 || marker > 0x9F) return text;
    if (t[1] == 0) return text;
    unsigned check = marker;
    int n = 0;
    for (unsigned char* p = t + 1; *p; ++p, ++n) check ^= *p;
    if (check & 0x1F) return text;
    uint16_t state = textconst::kStart;
    for (int i = 1; i <= n; ++i) {
        state = textconst::advance(state);
        unsigned key = state % 255;
        unsigned d = t[i];
        t[i - 1] = static_cast<unsigned char>(((d == key ? 0 : d) - key) & 0xFF);
    }
    t[n] = 0;
    return text;
}

int txt_len(const char* text) {
    text = txt_unscramble(text);
    int n = 0;
    while (text[n]) ++n;
    return n;
}

void txt_copy(char* dst, const char* src) {
    CharText one(src);
    while ((*dst++ = *src++) != 0) {
    }
}

void txt_copy_n(char* dst, const char* src, int n) {
    src = txt_unscramble(src);
    while (n > 0 && *src) {
        *dst++ = *src++;
        --n;
    }
    *dst = 0;
}

void txt_append(char* dst, const char* src) {
    dst = txt_unscramble(dst);
    txt_copy(dst + txt_len(dst), src);
}

void txt_prepend(char* dst, const char* src) {
    CharText one(src);
    dst = txt_unscramble(dst);
    int n = txt_len(src);
    if (n == 0) return;
    mem_move(dst, dst + n, txt_len(dst) + 1);
    mem_move(src, dst, n);
}

char* txt_find(char* haystack, const char* needle) {
    haystack = txt_unscramble(haystack);
    if (txt_is_char(needle)) {
        char c = static_cast<char>(reinterpret_cast<uintptr_t>(needle));
        if (c == 0) return nullptr;
        for (char* p = haystack; *p; ++p)
            if (*p == c) return p;
        return nullptr;
    }
    needle = txt_unscramble(needle);
    int n = txt_len(needle);
    if (n == 0) return nullptr;
    for (char* p = haystack; *p; ++p)
        if (*p == *needle && txt_compare_n(p, needle, n) == 0) return p;
    return nullptr;
}

int txt_replace(char* text, const char* from, const char* to) {
    CharText one_from(from);
    CharText one_to(to);
    text = txt_unscramble(text);
    int lf = txt_len(from), lt = txt_len(to), count = 0;
    char* p = text;
    while (char* match = txt_find(p, from)) {
        if (lt != lf) mem_move(match + lf, match + lt, txt_len(match + lf) + 1);
        mem_move(to, match, lt);
        ++count;
        p = match + lt;
    }
    return count;
}

int txt_compare(const char* a, const char* b) {
    b = txt_unscramble(b);
    for (;; ++a, ++b) {
        auto x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

int txt_compare_n(const char* a, const char* b, int n) {
    b = txt_unscramble(b);
    for (int i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
    return 0;
}

void txt_trim_right(char* text) {
    text = txt_unscramble(text);
    for (int i = txt_len(text) - 1; i >= 0 && cc_is(text[i], CC_BLANK); --i) text[i] = 0;
}

int txt_trim_left(char* text) {
    text = txt_unscramble(text);
    while (cc_is(text[0], CC_BLANK)) mem_move(text + 1, text, txt_len(text + 1) + 1);
    return static_cast<unsigned char>(text[0]);
}

char* txt_skip_blanks(char* text) {
    text = txt_unscramble(text);
    while (cc_is(*text, CC_BLANK)) ++text;
    return text;
}

const char* txt_next_arg(const char* text, char* word) {
    const char* p = txt_skip_blanks(text);
    if (!*p) return nullptr;
    bool quoted = false;
    while (*p && (quoted || !cc_is(*p, CC_BLANK))) {
        int32_t slashes = 0;
        while (p[slashes] == '\\') ++slashes;
        if (p[slashes] != '"') {
            for (slashes += slashes == 0; slashes > 0; --slashes) *word++ = *p++;
            continue;
        }
        for (int32_t i = 0; i < slashes / 2; ++i) *word++ = '\\';
        p += slashes;
        if (slashes % 2) *word++ = '"';
        else if (quoted && p[1] == '"') *word++ = '"', ++p;
        else quoted = !quoted;
        ++p;
    }
    *word = 0;
    return p;
}

void mem_move(const void* src, void* dst, int64_t count) {
    if (count <= 0 || src == dst) return;
    auto s = reinterpret_cast<uintptr_t>(src), d = reinterpret_cast<uintptr_t>(dst);
    bool words = (s | d | static_cast<uintptr_t>(count)) % 4 == 0;
    if (words) {
        // Word copies through memcpy: the bytes may belong to any object.
        auto* from = static_cast<const uint8_t*>(src);
        auto* to = static_cast<uint8_t*>(dst);
        int64_t n = count / 4;
        uint32_t w;
        if (s > d)
            for (int64_t i = 0; i < n; ++i) memcpy(&w, from + 4 * i, 4), memcpy(to + 4 * i, &w, 4);
        else
            for (int64_t i = n - 1; i >= 0; --i) memcpy(&w, from + 4 * i, 4), memcpy(to + 4 * i, &w, 4);
    } else {
        auto* from = static_cast<const uint8_t*>(src);
        auto* to = static_cast<uint8_t*>(dst);
        if (s > d)
            for (int64_t i = 0; i < count; ++i) to[i] = from[i];
        else
            for (int64_t i = count - 1; i >= 0; --i) to[i] = from[i];
    }
}
