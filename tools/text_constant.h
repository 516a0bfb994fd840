// The build step that turns string literals into text constants.
//
// T("Hello") is written where the text is used; the compiler runs scramble()
// below while it builds, so the program image holds only the stored form:
// a marker byte, one scrambled byte per character, a terminator. The stored
// array is writable, because txt_unscramble turns it into plain text in place
// on its first use. A literal holding a byte 0x80..0x9F is refused here,
// since after its first use it, or a part of it behind that byte, could pass
// for a stored constant again.
//
// A text counts as a constant only where the build put the constants: the
// template's storage lands in sections named after it (".data._ZN9textconst8
// Constant..." on ELF, ".data$_ZN9textconst8Constant..." on PE), which the
// linker gathers into one run that runtime/txt.cpp knows the ends of
// (tools/text_constants.ld on ELF; on PE the sorted '$' sections). Bytes from
// outside the program (a scanner's reply, a file name) are never taken for a
// constant, whatever they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace textconst {

// The keystream shared with txt_unscramble.
inline constexpr uint16_t kStart = 0x2B67;
inline constexpr uint16_t kMultiplier = 0x6255;  // odd, ≡ 1 mod 4: full period
inline constexpr uint16_t kIncrement = 0x3619;   // odd

constexpr uint16_t advance(uint16_t state) {
    return static_cast<uint16_t>(state * kMultiplier + kIncrement);
}

template <size_t N>
struct Literal {
    char chars[N];
    consteval Literal(const char (&s)[N]) {
        for (size_t i = 0; i < N; ++i) chars[i] = s[i];
    }
    static constexpr size_t length = N - 1;
};

template <size_t N>
struct Stored {
    char bytes[N + 1];
};

void text_holds_a_marker_byte();  // never defined: calling it stops the build

template <size_t N>
consteval Stored<N> scramble(const Literal<N>& plain) {
    Stored<N> out{};
    constexpr size_t n = N - 1;
    if constexpr (n == 0) {
        out.bytes[0] = 0;  // the empty text stays plain: a marker alone reads as plain text
        return out;
    } else {
        for (size_t i = 0; i < n; ++i) {
            unsigned char c = static_cast<unsigned char>(plain.chars[i]);
            if (c >= 0x80 && c <= 0x9F) text_holds_a_marker_byte();
        }
        uint16_t state = kStart;
        unsigned check = 0;
        for (size_t i = 0; i < n; ++i) {
            state = advance(state);
            unsigned key = state % 255;
            unsigned p = static_cast<unsigned char>(plain.chars[i]);
            unsigned e = (p + key) & 0xFF;
            if (e == 0) e = key;  // never store 0: the key itself stands for it
            out.bytes[i + 1] = static_cast<char>(e);
            check ^= e;
        }
        out.bytes[0] = static_cast<char>(0x80 | (check & 0x1F));
        out.bytes[n + 1] = 0;
        return out;
    }
}

// The template argument is the stored form, not the literal: the compiler
// describes template arguments in its debugging information, and the plain
// text must not reach the binary that way either.
// Its name is in the section names above: rename them together.
template <auto S>
struct Constant {
    static inline std::remove_const_t<decltype(S)> storage = S;
};

}  // namespace textconst

// A text constant: char* to the stored text, plain after its first use.
#define T(literal) (::textconst::Constant<::textconst::scramble(::textconst::Literal(literal))>::storage.bytes)
