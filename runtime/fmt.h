// The formatter: a format text and typed arguments become a text in the
// caller's buffer. Its directive language is printf-like in outline, with
// digit grouping (,;), decimals inserted into integers (.), zero suppression
// (- and blank), left justification by an upper-case letter, append (%>),
// trim (%W) and singular/plural suffixes (%p). num_parse reads decimals.
//
// Arguments are typed values, not raw machine words: a directive that meets
// no argument, or one of the wrong kind, writes "?" and never reads past the
// list. Without "~" an integer is taken as 32 bits, with "~" as all 64.
#pragma once

#include <cstdint>
#include <type_traits>

struct FmtArg {
    enum Kind : uint8_t { Int, Text, Addr };
    Kind kind;
    union {
        int64_t i;
        const char* t;
        const void* a;
    };
    template <typename N, std::enable_if_t<std::is_integral_v<N> || std::is_enum_v<N>, int> = 0>
    FmtArg(N n) : kind(Int), i(static_cast<int64_t>(n)) {}
    FmtArg(const char* text) : kind(Text), t(text) {}
    FmtArg(char* text) : kind(Text), t(text) {}
    FmtArg(const void* address) : kind(Addr), a(address) {}
    FmtArg(std::nullptr_t) : kind(Addr), a(nullptr) {}
};

struct FmtList {
    const FmtArg* args;
    int count;
};

int fmt_vformat(char* buffer, const char* format, FmtList args);

template <typename... A>
int fmt_format(char* buffer, const char* format, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return fmt_vformat(buffer, format, FmtList{nullptr, 0});
    } else {
        const FmtArg list[] = {FmtArg(args)...};
        return fmt_vformat(buffer, format, FmtList{list, static_cast<int>(sizeof...(A))});
    }
}

// 0 success, 1 overflow of the signed 32-bit range, 2 no digit.
int num_parse(const char* text, const char** end, int32_t* value);

char* fmt_digits_signed(int64_t value, char* out);
char* fmt_digits_unsigned(uint64_t value, char* out);
char* fmt_digits_hex(uint64_t value, char* out);
char* fmt_digits_base2(uint64_t value, char* out);
