// Standard output, error output and the fatal stop. Line feeds leave as
// CR LF; console messages are mirrored on error output when standard output
// is redirected; the first short write to any handle stops the program.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "runtime/fmt.h"

extern HANDLE std_in, std_out, std_err;
extern int16_t dual_output;         // -1 undecided, then 1 when the file types differ
extern int16_t short_write_report;  // cleared by the first short write

// Writes to this handle do nothing and report every byte as written.
#define NULL_OUTPUT (reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xDEADBEEFu)))

void std_init(int16_t processed_input);
DWORD out_write(HANDLE handle, const void* data, DWORD count);
int out_print(HANDLE handle, const char* text);
int out_vprintf(HANDLE handle, const char* format, FmtList args);
int con_print(const char* text);
int con_vprintf(const char* format, FmtList args);
[[noreturn]] void fatal_v(const char* format, FmtList args);
[[noreturn]] void prog_exit(int code);

template <typename... A>
int out_printf(HANDLE handle, const char* format, const A&... args) {
    const FmtArg list[] = {FmtArg(args)..., FmtArg(0)};
    return out_vprintf(handle, format, FmtList{list, static_cast<int>(sizeof...(A))});
}

template <typename... A>
int con_printf(const char* format, const A&... args) {
    const FmtArg list[] = {FmtArg(args)..., FmtArg(0)};
    return con_vprintf(format, FmtList{list, static_cast<int>(sizeof...(A))});
}

template <typename... A>
[[noreturn]] void fatal(const char* format, const A&... args) {
    const FmtArg list[] = {FmtArg(args)..., FmtArg(0)};
    fatal_v(format, FmtList{list, static_cast<int>(sizeof...(A))});
}
