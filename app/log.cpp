// The log of readings (--log FILE): CSV, appended to and never truncated,
// each row written out whole at once so that tail -f and a pipe see it
// as it happens. A write that fails stops the log, never the monitor, and
// takes back what part of its row reached the file: rows are whole or
// absent. A log whose path comes to lead elsewhere (deleted, or replaced,
// as a log rotation does) is opened again at its path.
#include "app/aids.h"

#include "app/monitor.h"
#include "app/options.h"
#include "console/screen.h"
#include "runtime/file.h"
#include "runtime/fmt.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "serial/clock.h"

namespace {
HANDLE log_handle = nullptr;  // null when there is no log, or no more
char failure[160];            // why the log stopped, or that it was opened again, for row 4
int16_t failure_colour = 0x1C;
int64_t watched_at = 0;  // when the path was last checked

void system_reason(char* out) {
    DWORD code = GetLastError();
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, out, 128,
                       nullptr) == 0)
        fmt_format(out, T("error %u."), code);
    txt_trim_right(out);
}

void show_failure() {
    if (failure[0]) scr_printf(4, 2, failure_colour, T("%38S"), failure);
}

void stop_log(const char* reason) {
    fmt_format(failure, T("Log stopped: %s"), reason);
    failure[38] = 0;
    failure_colour = 0x1C;
    if (log_handle) file_close(log_handle);
    log_handle = nullptr;
    show_failure();
}

void write_row(const char* row) {
    if (log_handle == nullptr) return;
    row = txt_unscramble(row);
    int32_t done = 0;
    if (file_write(log_handle, row, txt_len(row), &done) == 0) return;
    char reason[160];
    system_reason(reason);
    if (done > 0) file_cut(log_handle, done);
    stop_log(reason);
}

// Opens the log at its path: 0, or 1 with the reason. Rows go on only
// after a whole line of an rxmon log: a file of anything else is left
// alone, and a last row cut short (a crash, a disk that was full) is
// ended first. A file that cannot be read is taken as it is.
int open_log(char* reason) {
    bool at_start = false;
    if (int r = file_append(options.log_path, &log_handle, &at_start)) {
        if (r == 2) txt_copy(reason, T("a pipe that rxmon cannot write to without waiting."));
        else system_reason(reason);
        log_handle = nullptr;
        return 1;
    }
    const char* header = txt_unscramble(T("time,port,model,frequency_hz,level,tuning,signal,event\n"));
    if (at_start) {
        write_row(header);
        return 0;
    }
    char head[64] = {}, last = '\n';
    HANDLE reader = CreateFileA(options.log_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader != INVALID_HANDLE_VALUE) {
        file_read(reader, head, 55);
        LONG high = -1;
        SetFilePointer(reader, -1, &high, FILE_END);
        file_read(reader, &last, 1);
        CloseHandle(reader);
    }
    if (head[0] && (txt_compare_n(head, header, 54) != 0 || (head[54] != '\n' && head[54] != '\r'))) {
        txt_copy(reason, T("it is not an rxmon log."));
        file_close(log_handle);
        log_handle = nullptr;
        return 1;
    }
    if (last != '\n') write_row(T("\n"));
    return 0;
}

// The length of the UTF-8 sequence that starts at p, or 0 where none does:
// overlong forms, surrogates and code points past U+10FFFF are none.
int32_t utf8_length(const unsigned char* p) {
    if (p[0] < 0x80) return 1;
    int32_t n = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
    if (n == 0 || p[0] > 0xF4) return 0;
    // The second byte's range is narrower after E0, ED, F0 and F4.
    unsigned low = p[0] == 0xE0 ? 0xA0 : p[0] == 0xF0 ? 0x90 : 0x80;
    unsigned high = p[0] == 0xED ? 0x9F : p[0] == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < low || p[1] > high) return 0;
    for (int32_t i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return n;
}

// A text field, in double quotes (its own doubled) when it holds a comma, a
// quote or a line break: the model comes from the scanner. A spreadsheet
// runs a field that starts with = + - @, a tab or a CR as a formula, quoted
// or not: the usual leading ' keeps it text. A byte that is not UTF-8
// becomes U+FFFD, so that a strict reader takes the file. At most three
// bytes out for each byte in, and three more.
void append_field(char* row, const char* text) {
    text = txt_unscramble(text);
    bool quote = false;
    for (const char* p = text; *p; ++p) quote = quote || *p == ',' || *p == '"' || *p == '\r' || *p == '\n';
    char* out = row + txt_len(row);
    *out++ = ',';
    if (quote) *out++ = '"';
    if (*text == '=' || *text == '+' || *text == '-' || *text == '@' || *text == '\t' || *text == '\r') *out++ = '\'';
    for (const char* p = text; *p;) {
        int32_t n = utf8_length(reinterpret_cast<const unsigned char*>(p));
        if (n == 0) {
            for (int c : {0xEF, 0xBF, 0xBD}) *out++ = static_cast<char>(c);
            ++p;
            continue;
        }
        if (*p == '"') *out++ = '"';
        while (n-- > 0) *out++ = *p++;
    }
    if (quote) *out++ = '"';
    *out = 0;
}

// Time and port: how every row begins.
void row_start(char* row, const char* model) {
    char port[256];
    log_time(row);
    port_label(port);
    append_field(row, port);
    append_field(row, model);
}

// The offset is what local time and UTC differ by, taken to the nearest
// quarter hour, which every zone's offset is a multiple of: the two
// readings of the clock may straddle a tick.
int32_t utc_offset_minutes(const SYSTEMTIME& local, const SYSTEMTIME& utc) {
    auto day = [](const SYSTEMTIME& t) { return (t.wYear * 16 + t.wMonth) * 32 + t.wDay; };
    int32_t days = day(local) == day(utc) ? 0 : day(local) > day(utc) ? 1 : -1;
    int32_t seconds = ((days * 24 + local.wHour - utc.wHour) * 60 + local.wMinute - utc.wMinute) * 60 +
                      local.wSecond - utc.wSecond;
    int32_t quarters = (seconds + (seconds < 0 ? -450 : 450)) / 900;
    return quarters * 15;
}
}  // namespace

void log_time(char* out) {
    SYSTEMTIME local, utc;
    GetLocalTime(&local);
    GetSystemTime(&utc);
    int32_t offset = utc_offset_minutes(local, utc);
    int32_t size = offset < 0 ? -offset : offset;
    fmt_format(out, T("%04i-%02i-%02iT%02i:%02i:%02i.%03i%s%02i:%02i"), local.wYear, local.wMonth, local.wDay,
               local.wHour, local.wMinute, local.wSecond, local.wMilliseconds, offset < 0 ? T("-") : T("+"),
               size / 60, size % 60);
}

void aids_open() {
    failure[0] = 0;
    if (!options.log_path[0]) return;
    char reason[160];
    if (open_log(reason)) {
        out_printf(std_err, T("rxmon cannot open the log %s: %s\n"), options.log_path, reason);
        prog_exit(1);
    }
}

void aids_started() { log_event("", T("started")); }

void aids_ended() {
    log_event("", T("ended"));
    if (log_handle) file_close(log_handle);
    log_handle = nullptr;
}

void log_tick() {
    show_failure();
    if (log_handle == nullptr || ms_now() - watched_at < 2000) return;
    watched_at = ms_now();
    int32_t moved = file_moved(log_handle, options.log_path);
    if (moved == 0) return;
    file_close(log_handle);
    log_handle = nullptr;
    char reason[160];
    if (open_log(reason)) return stop_log(reason);
    if (log_handle == nullptr) return;  // its header failed: stopped, saying why
    txt_copy(failure, moved == 1 ? T("Log reopened: the file was deleted") : T("Log reopened: the file was replaced"));
    failure_colour = 0x1E;
    show_failure();
}

// Time, port and model take at most 29, 603 and 372 bytes (a port name of
// 200 characters, a model of 123, each byte of either written as three).
void log_event(const char* model, const char* event) {
    if (log_handle == nullptr) return;
    char row[2048];
    row_start(row, model);
    txt_append(row, T(",,,,"));
    append_field(row, event);
    txt_append(row, T("\n"));
    write_row(row);
}

void log_pass(const char* model, int32_t level, int32_t tuning, int32_t frequency, int32_t signal) {
    if (log_handle == nullptr) return;
    char row[2048];
    row_start(row, model);
    // The scanner reports the frequency in hundreds of hertz.
    fmt_format(row, T("%>,%~i,%i,%i,%i,\n"), int64_t(frequency) * 100, level, tuning, signal);
    write_row(row);
}
