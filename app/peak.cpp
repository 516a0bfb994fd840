// Peak hold. The mark holds 2.5 s: long enough for a hand that has swung the
// antenna past the best direction to stop and look, short enough that it
// does not tell of a direction left long ago. It then falls to the reading
// within 2 s, slowly enough for the eye to follow it back down.
#include "app/aids.h"

#include "app/options.h"
#include "console/screen.h"
#include "net/readings.h"
#include "runtime/txt.h"
#include "serial/clock.h"

PeakHold peak;

namespace {
constexpr char kMark = static_cast<char>(179);  // the console's thin vertical line

void hold(int32_t signal, int64_t now) {
    peak.value = peak.top = signal;
    peak.held_at = now;
}
}  // namespace

void peak_update(int32_t signal, int64_t now) {
    if (signal < 0 || signal > 1023) return;
    peak.last = signal;
    int64_t fall = now - peak.held_at - kPeakHoldMs;
    if (peak.value < 0 || signal >= peak.value || fall >= kPeakFallMs) {
        hold(signal, now);
    } else if (fall > 0) {
        // Towards the current reading, never up again without a higher one.
        int32_t falling = peak.top - static_cast<int32_t>((peak.top - signal) * fall / kPeakFallMs);
        if (falling < peak.value) peak.value = falling;
    }
}

void peak_draw() {
    if (peak.value < 0) scr_print(T("      "), 0x10, 15, 17);
    else scr_printf(15, 17, 0x1F, T("^%4i "), peak.value);
}

void peak_clear() {
    // The servers keep the peak without --peak, and lose it with the scanner.
    if (!options.peak && !readings_enabled()) return;
    peak = PeakHold{};
    if (!options.peak) return;
    peak_draw();
    // The bar keeps its last reading until the next one; the mark goes now.
    if (scr_chars == nullptr || scr_rows < 17) return;
    const char* row = scr_chars + 16 * scr_cols;
    for (int32_t column = 1; column <= scr_cols; ++column)
        if (row[column - 1] == kMark) scr_print(T(" "), 0x1E, 17, column);
}

bool peak_key() {
    if (!options.peak) return false;
    if (peak.last >= 0) {
        hold(peak.last, ms_now());
        peak_draw();
    }
    return true;
}

void peak_mark(char* bar, int32_t signal) {
    if (peak.value > signal && bar[peak.value / 27] == ' ') bar[peak.value / 27] = kMark;
}
