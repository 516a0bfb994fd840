// Writes of text to the standard handles, and the fatal stop.
#include "runtime/out.h"

#include "runtime/file.h"
#include "runtime/txt.h"

HANDLE std_in, std_out, std_err;
int16_t dual_output = -1;
int16_t short_write_report = 1;

void std_init(int16_t processed_input) {
    std_in = GetStdHandle(STD_INPUT_HANDLE);
    std_out = GetStdHandle(STD_OUTPUT_HANDLE);
    std_err = GetStdHandle(STD_ERROR_HANDLE);
    name_remember(std_in, T("<stdin>"));
    name_remember(std_out, T("<stdout>"));
    name_remember(std_err, T("<stderr>"));
    DWORD mode = 0;
    GetConsoleMode(std_in, &mode);
    if (processed_input) mode |= ENABLE_PROCESSED_INPUT;
    else mode &= ~DWORD(ENABLE_PROCESSED_INPUT);
    mode &= ~DWORD(ENABLE_MOUSE_INPUT);
    mode |= ENABLE_WINDOW_INPUT;
    SetConsoleMode(std_in, mode);
}

__attribute__((noinline)) DWORD out_write(HANDLE handle, const void* data, DWORD count) {
    if (handle == NULL_OUTPUT) return count;
    DWORD written = 0;
    WriteFile(handle, data, count, &written, nullptr);
    if (written != count && short_write_report) {
        short_write_report = 0;
        char name[262];
        name_lookup(handle, name);
        fatal(T("Short write: the code at %~x wrote to handle %~x from %~x %u bytes, of which %u arrived (%s).\n"),
              __builtin_return_address(0), handle, data, count, written, name);
    }
    return written;
}

namespace {
// Writes the text in stretches between line feeds, each line feed as CR LF,
// to one handle or, mirrored, to two.
int print_to(HANDLE first, HANDLE second, const char* text) {
    text = txt_unscramble(text);
    char one[2] = {0, 0};
    if (txt_is_char(text)) {
        one[0] = static_cast<char>(reinterpret_cast<uintptr_t>(text));
        text = one;
    }
    int result = 0;
    auto put = [&](const char* data, DWORD n) {
        if (out_write(first, data, n) != n) result = 1;
        if (second && out_write(second, data, n) != n) result = 1;
    };
    while (*text) {
        const char* end = text;
        while (*end && *end != '\n') ++end;
        if (end > text) put(text, static_cast<DWORD>(end - text));
        if (*end != '\n') break;
        put("\r\n", 2);
        text = end + 1;
    }
    return result;
}
}  // namespace

int out_print(HANDLE handle, const char* text) { return print_to(handle, nullptr, text); }

int out_vprintf(HANDLE handle, const char* format, FmtList args) {
    char buffer[2048];
    fmt_vformat(buffer, format, args);
    return out_print(handle, buffer);
}

int con_print(const char* text) {
    if (dual_output == -1) dual_output = GetFileType(std_out) != GetFileType(std_err) ? 1 : 0;
    return print_to(std_out, dual_output == 1 ? std_err : nullptr, text);
}

int con_vprintf(const char* format, FmtList args) {
    char buffer[2048];
    fmt_vformat(buffer, format, args);
    return con_print(buffer);
}

void fatal_v(const char* format, FmtList args) {
    out_print(std_err, T("\n*** rxmon stopped on an internal failure\n"));
    char buffer[4096];
    fmt_vformat(buffer, format, args);
    out_print(std_err, buffer);
    out_print(std_err, T("\n*** Please report this message with what led to it. ***\n"));
    prog_exit(1);
}

void prog_exit(int code) { ExitProcess(static_cast<UINT>(code)); }
