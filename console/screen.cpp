// The shadow screen and its drawing calls. Callers redraw whole panels every
// cycle; the shadow keeps that cheap, since only a run with at least one
// changed cell reaches the console, and then in exactly two calls.
#include "console/screen.h"

#include "console/mem.h"
#include "runtime/txt.h"

HANDLE scr_out;
int32_t scr_rows, scr_cols;
char* scr_chars;
uint16_t* scr_attrs;
std::atomic<int32_t> blink_cells{0};
int16_t blink_phase;
TicketLock scr_lock;

namespace {
constexpr int32_t kMaxRun = 1024;
char* shadow_block;
}  // namespace

void ticket_lock(TicketLock* lock) {
    while (lock->guard.exchange(1, std::memory_order_acquire) != 0) Sleep(1);
    uint8_t ticket = lock->next_ticket.load(std::memory_order_relaxed);
    lock->next_ticket.store(static_cast<uint8_t>(ticket + 1), std::memory_order_release);
    lock->guard.store(0, std::memory_order_release);
    while (lock->now_serving.load(std::memory_order_acquire) != ticket) Sleep(1);
}

void ticket_unlock(TicketLock* lock) {
    uint8_t serving = lock->now_serving.load(std::memory_order_relaxed);
    lock->now_serving.store(static_cast<uint8_t>(serving + 1), std::memory_order_release);
}

uint16_t scr_colour_pair(int32_t colour) {
    uint32_t value = static_cast<uint32_t>(colour) & 0xFFFF;
    switch (value >> 8) {
        case 0x00: return static_cast<uint16_t>(value * 0x101);
        // Background as foreground too: the text vanishes in the alternate phase.
        case 0xFF: return static_cast<uint16_t>(((value & 0xF0) * 0x111) | (value & 0x0F));
        // Foreground and background exchanged: inverse blink.
        case 0xBB: return static_cast<uint16_t>(((value & 0x0F) * 0x1001) | ((value & 0xF0) * 0x11));
        default: return static_cast<uint16_t>(value);
    }
}

static bool blinks(uint16_t pair) { return (pair >> 8) != (pair & 0xFF); }

void scr_print(const char* text, int32_t colour, int32_t row, int32_t column) {
    if (row < 1 || row > scr_rows || column < 1 || column > scr_cols) return;
    uint16_t pair = scr_colour_pair(colour);

    char copy[kMaxRun + 1];
    text = txt_unscramble(text);
    if (txt_is_char(text)) {
        copy[0] = static_cast<char>(reinterpret_cast<uintptr_t>(text));
        copy[1] = 0;
    } else {
        txt_copy_n(copy, text, kMaxRun);
    }

    ticket_lock(&scr_lock);
    int32_t base = (row - 1) * scr_cols + (column - 1);
    int32_t run = 0;
    bool changed = false;
    for (; copy[run] != 0 && column + run <= scr_cols; ++run) {
        int32_t cell = base + run;
        if (scr_chars[cell] != copy[run]) {
            scr_chars[cell] = copy[run];
            changed = true;
        }
        uint16_t old = scr_attrs[cell];
        if (old != pair) {
            blink_cells.fetch_add((blinks(pair) ? 1 : 0) - (blinks(old) ? 1 : 0), std::memory_order_relaxed);
            scr_attrs[cell] = pair;
            changed = true;
        }
    }
    if (changed) {
        // Text drawn during the alternate phase goes out in that phase, so
        // that the phase change back turns it normal with everything else.
        WORD shown[kMaxRun];
        WORD attribute = blink_phase ? static_cast<WORD>(pair >> 8) : static_cast<WORD>(pair & 0xFF);
        for (int32_t i = 0; i < run; ++i) shown[i] = attribute;
        COORD at = {static_cast<SHORT>(column - 1), static_cast<SHORT>(row - 1)};
        DWORD done = 0;
        WriteConsoleOutputAttribute(scr_out, shown, static_cast<DWORD>(run), at, &done);
        WriteConsoleOutputCharacterA(scr_out, copy, static_cast<DWORD>(run), at, &done);
    }
    ticket_unlock(&scr_lock);
}

void scr_vprintf(int32_t row, int32_t column, int32_t colour, const char* format, FmtList args) {
    // The formatter takes no bound: callers keep their texts within 1024
    // characters, and the slack behind the drawn part absorbs a few more.
    char buffer[1028];
    fmt_vformat(buffer, format, args);
    scr_print(buffer, colour, row, column);
}

void scr_fill(int32_t length, int32_t colour, int32_t row, int32_t column) {
    if (length <= 0) return;
    if (length > kMaxRun) length = kMaxRun;
    char blanks[kMaxRun + 1];
    mem_fill(blanks, ' ', length);
    blanks[length] = 0;
    scr_print(blanks, colour, row, column);
}

void scr_clear(int32_t colour) {
    char line[kMaxRun + 1];
    mem_fill(line, ' ', scr_cols);
    line[scr_cols] = 0;
    for (int32_t row = scr_rows; row >= 1; --row) scr_print(line, colour, row, 1);
}

static int32_t clamp(int32_t value, int32_t low, int32_t high) { return value < low ? low : value > high ? high : value; }

void scr_size(int32_t rows, int32_t columns) {
    ticket_lock(&scr_lock);
    // The console refuses a buffer smaller than its window and a window
    // larger than its buffer: whichever setting fails in the first pass
    // succeeds in the second, from the state the first one left.
    for (int pass = 0; pass < 2; ++pass) {
        COORD largest = GetLargestConsoleWindowSize(scr_out);
        scr_rows = clamp(rows < largest.Y ? rows : largest.Y, 2, 768);
        scr_cols = clamp(columns < largest.X ? columns : largest.X, 16, 1024);
        blink_cells.store(0, std::memory_order_relaxed);
        if (shadow_block) mem_free(shadow_block);
        // The attribute pairs start on an even offset, so that no 16-bit
        // access is misaligned when the cell count is odd.
        uint32_t cells = static_cast<uint32_t>(scr_rows * scr_cols);
        uint32_t chars_part = (cells + 1) & ~1u;
        shadow_block = static_cast<char*>(mem_alloc(chars_part + cells * 2));
        scr_chars = shadow_block;
        scr_attrs = reinterpret_cast<uint16_t*>(shadow_block + chars_part);

        COORD size = {static_cast<SHORT>(scr_cols), static_cast<SHORT>(scr_rows)};
        SetConsoleScreenBufferSize(scr_out, size);
        SMALL_RECT window = {0, 0, static_cast<SHORT>(scr_cols - 1), static_cast<SHORT>(scr_rows - 1)};
        SetConsoleWindowInfo(scr_out, TRUE, &window);
    }
    ticket_unlock(&scr_lock);
    scr_clear(7);
}
