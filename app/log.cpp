// The log of readings (--log FILE): CSV, appended to and never truncated,
// each row written out whole at once so that tail -f and a pipe see it
// as it happens. A write that fails stops the log, never the monitor.
#include "app/aids.h"

#include "app/monitor.h"
#include "app/options.h"
#include "console/screen.h"
#include "runtime/file.h"
#include "runtime/fmt.h"
#include "runtime/out.h"
#include "runtime/txt.h"

namespace {
HANDLE log_handle = nullptr;  // null when there is no log, or no more
char failure[160];           // why the log stopped, for the screen

void system_reason(char* out) {
    DWORD code = GetLastError();
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, out, 128,
                       nullptr) == 0)
        fmt_format(out, T("error %u."), code);
    txt_trim_right(out);
}

void show_failure() {
    if (failure[0]) scr_printf(4, 2, 0x1C, T("%38S"), failure);
}

void write_row(const char* row) {
    if (log_handle == nullptr) return;
    row = txt_unscramble(row);
    if (file_write(log_handle, row, txt_len(row)) == 0) return;
    char reason[160];
    system_reason(reason);
    fmt_format(failure, T("Log stopped: %s"), reason);
    failure[38] = 0;
    file_close(log_handle);
    log_handle = nullptr;
    show_failure();
}

// A text field, in double quotes (its own doubled) when it holds a comma, a
// quote or a line break: the model comes from the scanner.
void append_field(char* row, const char* text) {
    text = txt_unscramble(text);
    bool quote = false;
    for (const char* p = text; *p; ++p) quote = quote || *p == ',' || *p == '"' || *p == '\r' || *p == '\n';
    char* out = row + txt_len(row);
    *out++ = ',';
    if (quote) *out++ = '"';
    for (const char* p = text; *p; ++p) {
        if (*p == '"') *out++ = '"';
        *out++ = *p;
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
    if (!options.log_path[0]) return;
    bool at_start = false;
    if (file_append(options.log_path, &log_handle, &at_start)) {
        char reason[160];
        system_reason(reason);
        out_printf(std_err, T("rxmon cannot open the log %s: %s\n"), options.log_path, reason);
        prog_exit(1);
    }
    if (at_start) write_row(T("time,port,model,frequency_hz,level,tuning,signal,event\n"));
}

void aids_started() { log_event("", T("started")); }

void aids_ended() {
    log_event("", T("ended"));
    if (log_handle) file_close(log_handle);
    log_handle = nullptr;
}

void log_event(const char* model, const char* event) {
    if (log_handle == nullptr) return;
    char row[1024];
    row_start(row, model);
    txt_append(row, T(",,,,"));
    append_field(row, event);
    txt_append(row, T("\n"));
    write_row(row);
}

void log_pass(const char* model, int32_t level, int32_t tuning, int32_t frequency, int32_t signal) {
    show_failure();
    if (log_handle == nullptr) return;
    char row[1024];
    row_start(row, model);
    // The scanner reports the frequency in hundreds of hertz.
    fmt_format(row, T("%>,%~i,%i,%i,%i,\n"), int64_t(frequency) * 100, level, tuning, signal);
    write_row(row);
}
