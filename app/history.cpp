// The strip of recent readings on row 18: each cell is one second, shaded by
// the highest reading in it, so that a peak that lasted one pass still
// shows. It moves on the clock, not by passes, so that it costs the same
// few bytes a second at any baud rate. Its glyphs are in the Windows
// console's code page: light, medium and dark shade, full block, and a
// middle dot for a second without any reading.
#include "app/aids.h"

#include "console/screen.h"
#include "runtime/txt.h"

History history;

namespace {
constexpr int32_t kCells = 20;
constexpr int64_t kCellMs = 1000;

char glyph(int16_t cell) {
    if (cell == -2) return ' ';
    if (cell == -1) return static_cast<char>(250);
    static const char shades[4] = {static_cast<char>(176), static_cast<char>(177), static_cast<char>(178),
                                   static_cast<char>(219)};
    return shades[cell / 256];
}

void draw() {
    char strip[kCells + 1];
    for (int32_t i = 0; i < kCells; ++i) strip[i] = glyph(history.cells[i]);
    strip[kCells] = 0;
    scr_print(T("Last 20 s:"), 0x1B, 18, 2);
    scr_print(strip, 0x1E, 18, 13);
}
}  // namespace

void history_advance(int64_t now) {
    if (history.cell_start < 0) {
        for (int16_t& cell : history.cells) cell = -2;
        history.current = -1;
        history.cell_start = now;
        draw();
        return;
    }
    int64_t steps = (now - history.cell_start) / kCellMs;
    if (steps <= 0) return;
    history.cell_start += steps * kCellMs;
    // The second just ended, then any that passed without a call (in
    // silence a call comes about once a second, sometimes later).
    for (int64_t step = 0; step < steps && step < kCells; ++step) {
        for (int32_t i = 0; i + 1 < kCells; ++i) history.cells[i] = history.cells[i + 1];
        history.cells[kCells - 1] = static_cast<int16_t>(step == 0 ? history.current : -1);
    }
    history.current = -1;
    draw();
}

void history_note(int32_t signal) {
    if (signal >= 0 && signal <= 1023 && signal > history.current) history.current = signal;
}
