// The monitor's state and the port (re)opening, with its failures and, under
// --reconnect, the wait for a port that has gone.
#include "app/state.h"

#include "app/aids.h"
#include "app/monitor.h"
#include "app/options.h"
#include "console/screen.h"
#include "runtime/fmt.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "serial/clock.h"
#include "serial/port.h"

MonitorState mon;

void port_label(char* out) {
    if (mon.port_name[0]) txt_copy(out, mon.port_name);
    else fmt_format(out, T("COM%i"), mon.port_number);
}

void open_failure_text(char* out, DWORD code) {
    char label[256], cause[1024];
    port_label(label);
    if (platform_port_failure(code, cause, sizeof cause)) fmt_format(out, T("%s cannot be opened: %s\n"), label, cause);
    else if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        fmt_format(out, T("%s cannot be opened: not found.\n"), label);
    else if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
        fmt_format(out, T("%s cannot be opened: in use or not permitted.\n"), label);
    else fmt_format(out, T("%s cannot be opened: absent or in use.\n"), label);
}

int32_t try_open(int32_t baud, char* failure) {
    port_close(mon.port_number);
    if (port_open_named(mon.port_number, mon.port_name[0] ? mon.port_name : nullptr, baud, 8, 0, 1) == 0) {
        port_drain(mon.port_number, 50);
        return 0;
    }
    DWORD code = GetLastError();
    if (code == ERROR_OPERATION_ABORTED) return 2;
    open_failure_text(failure, code);
    // No wait makes a port of a file that is no serial device, or of an
    // address that cannot be one.
    return code == ERROR_NOT_SUPPORTED || code == ERROR_PATH_NOT_FOUND ? 3 : 1;
}

void open_failed(const char* failure) {
    aids_ended();
    scr_restore();
    con_print(failure);
    prog_exit(1);
}

void open_at_baud(int32_t baud) {
    char failure[1400];
    for (;;) {
        int32_t result = try_open(baud, failure);
        if (result == 0) return;
        // ESC ended a network port's wait: the key check ends the run.
        if (result == 2) {
            handle_keys();
            continue;
        }
        if (options.reconnect && result == 1) {
            wait_for_port();
            return;
        }
        open_failed(failure);
    }
}

void wait_for_port() {
    mon.signal_index = 0;
    aids_lost();
    show_status(-2);
    aids_waiting();
    char failure[1400];
    int32_t pause_ms = 1000;
    // A scanner that comes back almost always comes back at its old rate:
    // that rate first, then the search from its first rate (index 5 is the
    // try before the search, which the baud loop counts down from).
    mon.baud_index = mon.answered_baud ? 5 : 4;
    mon.current_baud = mon.answered_baud ? mon.answered_baud : mon.baud_table[4];
    for (;;) {
        for (int64_t until = ms_now() + pause_ms; ms_now() < until;) {
            handle_keys();
            aids_tick();
            Sleep(20);
        }
        int32_t result = try_open(mon.current_baud, failure);
        if (result == 0) break;
        if (result == 3) open_failed(failure);
        // A network server that stays away is asked every 2 s: less often,
        // yet with the search that follows still within 5 s of its return.
        if (txt_compare_n(mon.port_name, T("rfc2217://"), 10) == 0) pause_ms = 2000;
    }
    mon.connected = 0;
    mon.lost_count = 0;
    show_status(0);
    aids_back();
}
