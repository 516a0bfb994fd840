// The polling cycle: query the scanner over and over, draw what agrees, and
// give up (back to the baud loop) when the model query fails twice.
#include "app/monitor.h"

#include "app/aids.h"

#include "console/screen.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"

void set_title(const char* text) {
    char title[256];
    txt_copy(title, T("Scanner - "));
    if (mon.port_name[0]) {
        txt_append(title, mon.port_name);
        txt_append(title, T(" - "));
    }
    txt_append(title, text);
    if (txt_compare(title, mon.last_title) == 0) return;
    SetConsoleTitleA(title);
    txt_copy(mon.last_title, title);
}

void show_status(int32_t value) {
    // Beside the widest status (31 columns) row 3 leaves the port 5: a
    // longer name shows its last four characters behind a '~'.
    char label[256], port_text[260];
    port_label(label);
    int32_t length = txt_len(label);
    int32_t column = 2 + (length > 5 ? fmt_format(port_text, T("~%s: "), label + length - 4)
                                     : fmt_format(port_text, T("%s: "), label));
    scr_print(port_text, 0x1B, 3, 2);
    if (value == 0) {
        set_title(T("Autobaud"));
        scr_printf(3, column, 0xFF1E, T("%31S"), T("[Autobaud]"));
    } else if (value == -2) {
        set_title(T("waiting for the port"));
        scr_printf(3, column, 0xFF1C, T("%31S"), T("[waiting for the port]"));
    } else if (value == -1) {
        set_title(T("no response"));
        scr_print(T("[no communication with scanner]"), 0xFF1C, 3, column);
    } else {
        scr_printf(3, column, 0x1A, T("%6i baud, scanner answers   "), value);
    }
}

namespace {
// The info text is shown from its first digit, the model from its fifth
// character; both may be shorter.
const char* from_first_digit(const char* text) {
    while (*text && !cc_is(*text, CC_DIGIT)) ++text;
    return text;
}

const char* from_fifth(const char* text) { return txt_len(text) >= 4 ? text + 4 : text + txt_len(text); }

// One pass of steps that must all succeed before anything is drawn: two
// equal info replies around the level, and the model unchanged.
bool checked_readings(const char* model_reference, char* info, int32_t* level) {
    char info_again[256], model_check[256], work[256];
    handle_keys();
    if (query_info(info)) return false;
    handle_keys();
    if (query_level(level)) return false;
    handle_keys();
    if (query_info(info_again) || txt_compare(info, info_again) != 0) return false;
    handle_keys();
    if (query_model(model_check) || txt_compare(model_reference, model_check) != 0) return false;
    return query_tuning(work) == 0;
}

void draw_model_row(const char* model_reference, const char* info) {
    const char* model = from_fifth(model_reference);
    scr_print(T("Model: "), 0x1B, 5, 2);
    scr_print(model, 0x1A, 5, 9);
    scr_printf(5, 9 + txt_len(model), 0x1E, T("  firmware %s            "), from_first_digit(info));
}
}  // namespace

void poll_cycle() {
    if (mon.connected) {
        show_status(-1);
    } else if (++mon.lost_count > 5) {
        show_status(-1);
    }
    char model_reference[256], info[256], work[256];
    for (;;) {
        // Top: a new model reference.
        aids_tick();
        handle_keys();
        if (query_model(model_reference) && query_model(model_reference)) {
            aids_lost();
            return;
        }
        mon.connected = 1;
        mon.lost_count = 0;
        mon.answered_baud = mon.current_baud;
        aids_found(from_fifth(model_reference));

        for (;;) {
            int32_t level = 0;
            aids_tick();
            if (!checked_readings(model_reference, info, &level)) {
                mon.signal_index = 0;
                break;
            }
            show_status(mon.current_baud);
            draw_model_row(model_reference, info);
            draw_level_panel(level);

            int32_t reading, frequency;
            const char* rest = work;
            if (query_tuning(work) || num_parse(work, &rest, &reading) || num_parse(rest, nullptr, &frequency)) {
                mon.signal_index = 0;
                continue;
            }
            char title[256];
            fmt_format(title, T("%.4i"), frequency);
            set_title(title);
            scr_print(T("Frequency: "), 0x1B, 9, 2);
            scr_printf(9, 13, 0x1A, T("%9.4i MHz"), frequency);
            draw_tuning_panel(reading, frequency);

            int32_t signal;
            if (query_signal(work) || num_parse(work + 4, nullptr, &signal)) {
                mon.signal_index = 0;
                if (++mon.signal_fail_count > 2) {
                    scr_fill(40, 0x10, 15, 1);
                    scr_fill(40, 0x10, 17, 1);
                }
                continue;
            }
            mon.signal_index = signal;
            aids_pass(from_fifth(model_reference), level, reading, frequency, signal);
            scr_print(T("Sig: "), 0x1B, 15, 2);
            scr_printf(15, 7, 0x1A, T("%4i/1023 "), signal);
            draw_signal_bar(signal);
            mon.signal_fail_count = 0;
        }
    }
}
