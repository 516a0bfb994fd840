// The screen panels that turn readings into rows, and the beeps of Beep
// output. Characters 219, 221 and 222 are the console's full, left-half and
// right-half blocks.
#include "app/monitor.h"

#include "app/aids.h"

#include "console/screen.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"

namespace {
constexpr char kFull = static_cast<char>(219), kLeftHalf = static_cast<char>(221),
               kRightHalf = static_cast<char>(222);

void pad_to(char* text, int32_t width) {
    for (int32_t n = txt_len(text); n < width; ++n) text[n] = ' ', text[n + 1] = 0;
}

void verdict(int32_t level, int32_t high_from, int32_t low_below) {
    if (level >= high_from) scr_print(T("  HIGH: check the supply"), 0xFF1C, 7, 17);
    else if (level < low_below) scr_print(T("  LOW: check the supply "), 0xFF1E, 7, 17);
    else scr_print(T("  in range              "), 0x1B, 7, 17);
}
}  // namespace

int32_t snap_to_50(int32_t x) { return (x + 25) / 50 * 50; }

void snd_beep(int32_t frequency, int32_t units) { Beep(static_cast<DWORD>(frequency), static_cast<DWORD>(units * 10)); }

void draw_level_panel(int32_t level) {
    scr_print(T("Level:   "), 0x1B, 7, 2);
    if (!mon.model_a && !mon.model_b) {
        scr_print(T("unknown model, level not shown"), 0x1C, 7, 11);
        return;
    }
    if (level < 10) {
        scr_print(T("no reading (level below 10)   "), 0x1E, 7, 11);
        return;
    }
    scr_printf(7, 11, 0x1A, T("%5i "), level);
    if (mon.model_a) verdict(level, 291, 220);
    if (mon.model_b) verdict(level, 436, 350);
}

void draw_tuning_panel(int32_t reading, int32_t frequency) {
    char bar[64] = "";
    // In 64 bits: a garbled reading far below 0 must not overflow the distance.
    int64_t d = reading < 100 ? 100 - int64_t(reading) : int64_t(reading) - 100;
    if (d > 36) d = 36;
    for (int32_t i = 0; i < d / 2; ++i) txt_append(bar, txt_char(kFull));
    bool side = (reading < 100) != (frequency > 3800000);
    if (d % 2) {
        if (side) txt_prepend(bar, txt_char(kRightHalf));
        else txt_append(bar, txt_char(kLeftHalf));
    }
    if (side) {
        while (txt_len(bar) < 18) txt_prepend(bar, txt_char(' '));
        txt_append(bar, txt_char('|'));
    } else {
        txt_prepend(bar, T("                  |"));
    }
    pad_to(bar, 39);
    scr_print(bar, 0x1E, 13, 2);
    scr_print(T("Tuning: "), 0x1B, 11, 2);
    scr_printf(11, 10, 0x1A, T("%3i  "), reading);

    char estimate[64] = "";
    int64_t c = reading < 100 ? 100 - int64_t(reading) : int64_t(reading) - 100;
    if (mon.model_b && (frequency < 870000 || frequency > 1080000) && c > 1 && c < 50) {
        int32_t factor = frequency >= 3800000 ? 556 : 357;
        fmt_format(estimate, T("~%i Hz %s"), snap_to_50(static_cast<int32_t>(c) * factor), side ? T("low") : T("high"));
    }
    pad_to(estimate, 26);
    scr_print(estimate, 0x1E, 11, 15);
}

void draw_signal_bar(int32_t signal) {
    // Readings outside the scale are drawn no further and sound nothing:
    // they must never index the pitch table.
    if (signal > 1023 || signal < 0) return;
    char bar[128] = "";
    for (int32_t i = 0; i < signal / 27; ++i) txt_append(bar, txt_char(kFull));
    if (signal % 27 >= 14) txt_append(bar, txt_char(kLeftHalf));
    txt_append(bar, T("                                        "));
    bar[39] = 0;
    peak_mark(bar, signal);
    scr_print(bar, 0x1E, 17, 2);
    ++mon.reading_count;
    if (mon.sound_choice.load() == 0) {
        static const int32_t every[6] = {0, 8, 4, 2, 1, 1};
        int32_t n = every[mon.beep_mode];
        if (n && mon.reading_count % n == 0) snd_beep(mon.pitch_table[signal], 2);
    }
    draw_sound_panel();
}

void draw_sound_panel() {
    if (mon.sound_choice.load() == 0) {
        scr_print(T("Beeps: "), 0x1B, 15, 23);
        scr_print(mon.mode_names[mon.beep_mode], 0x1E, 15, 30);
    } else {
        scr_print(T("Volume: "), 0x1B, 15, 23);
        if (mon.muted.load()) scr_print(T("muted    "), 0x1E, 15, 31);
        else scr_printf(15, 31, 0x1E, T("%3i%%     "), mon.volume.load());
    }
}
