// Zero-terminated 8-bit texts: the routines every subsystem uses, the
// character classes, and text constants (T("...")), which are stored
// scrambled and made plain in place by the first routine that reads them.
//
// Where a routine allows it, a value below 256 passed in place of a text
// (txt_char(c)) stands for the one-character text of that code.
#pragma once

#include <cstdint>

#include "tools/text_constant.h"

enum : uint8_t { CC_UPPER = 0x01, CC_LOWER = 0x02, CC_DIGIT = 0x04, CC_BLANK = 0x08 };
extern const uint8_t char_class[256];

inline bool cc_is(char c, uint8_t bits) { return (char_class[static_cast<uint8_t>(c)] & bits) != 0; }

// The one-character value for code c, for the arguments that accept it.
inline const char* txt_char(int c) { return reinterpret_cast<const char*>(static_cast<uintptr_t>(c & 0xFF)); }
inline bool txt_is_char(const char* t) { return reinterpret_cast<uintptr_t>(t) < 256; }

// Plain form of a text constant, in place; any other text (whatever its
// bytes: only T() makes constants) and one-character values come back
// untouched.
const char* txt_unscramble(const char* text);
inline char* txt_unscramble(char* text) { return const_cast<char*>(txt_unscramble(static_cast<const char*>(text))); }

int txt_len(const char* text);
void txt_copy(char* dst, const char* src);
void txt_copy_n(char* dst, const char* src, int n);
void txt_append(char* dst, const char* src);
void txt_prepend(char* dst, const char* src);
char* txt_find(char* haystack, const char* needle);
inline const char* txt_find(const char* haystack, const char* needle) {
    return txt_find(const_cast<char*>(haystack), needle);
}
int txt_replace(char* text, const char* from, const char* to);
int txt_compare(const char* a, const char* b);
int txt_compare_n(const char* a, const char* b, int n);
void txt_trim_right(char* text);
int txt_trim_left(char* text);
char* txt_skip_blanks(char* text);
inline const char* txt_skip_blanks(const char* text) { return txt_skip_blanks(const_cast<char*>(text)); }

// The next argument of a command line, read by the Windows rules (which the
// POSIX layer's GetCommandLineA quotes by): blanks part arguments, double
// quotes hold blanks in, 2n backslashes before a quote are n and the quote
// opens or closes, 2n+1 are n and a quote, a quote doubled inside quotes is
// one, any other backslash is itself. Writes it plain, ended by a zero, to
// word (never longer than text); returns where it ends in text, or nullptr
// when only blanks are left.
const char* txt_next_arg(const char* text, char* word);

// Overlapping move; the source comes first.
void mem_move(const void* src, void* dst, int64_t count);
