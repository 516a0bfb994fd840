// Taking over the console for the full-screen display and giving it back as
// it was, the cursor shape, and the blink thread that shows the cells'
// alternate attributes for 300 ms of every second.
#include "console/mem.h"
#include "console/screen.h"

CONSOLE_SCREEN_BUFFER_INFO saved_info;
CONSOLE_CURSOR_INFO saved_cursor;
char* saved_cells;
std::atomic<HANDLE> blink_thread{nullptr};
std::atomic<int16_t> blink_stop{0};
int32_t blink_normal_ms = 700, blink_alt_ms = 300;

namespace {
int32_t saved_count;  // cells in saved_cells

// The saved attributes start on an even offset behind the characters.
WORD* saved_attributes() { return reinterpret_cast<WORD*>(saved_cells + ((saved_count + 1) & ~1)); }
}  // namespace

int scr_attach(int16_t save) {
    // Start-up attaches once alone, to learn early whether there is a console
    // at all; the take-over then keeps that handle.
    if (scr_out == nullptr || scr_out == INVALID_HANDLE_VALUE)
        scr_out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (scr_out == INVALID_HANDLE_VALUE) return 1;  // the system's reason stays the last error
    if (!GetConsoleScreenBufferInfo(scr_out, &saved_info)) return 1;
    GetConsoleCursorInfo(scr_out, &saved_cursor);
    if (!save) return 0;
    int32_t n = int32_t(int16_t(saved_info.dwSize.X)) * int32_t(int16_t(saved_info.dwSize.Y));
    // A console that reports no buffer has nothing to save, and a block of no
    // bytes cannot be had.
    if (n <= 0) return 0;
    saved_count = n;
    saved_cells = static_cast<char*>(mem_alloc(static_cast<uint32_t>(((n + 1) & ~1) + 2 * n)));
    COORD origin = {0, 0};
    DWORD done = 0;
    ReadConsoleOutputCharacterA(scr_out, saved_cells, static_cast<DWORD>(n), origin, &done);
    ReadConsoleOutputAttribute(scr_out, saved_attributes(), static_cast<DWORD>(n), origin, &done);
    return 0;
}

void scr_open(int16_t save, int32_t rows, int32_t columns) {
    scr_attach(save);
    blink_normal_ms = 700;
    blink_alt_ms = 300;
    if (rows <= 0 || columns <= 0) {
        rows = int16_t(saved_info.dwSize.Y);
        columns = int16_t(saved_info.dwSize.X);
    }
    scr_size(rows, columns);
    CONSOLE_CURSOR_INFO hidden = {1, FALSE};
    SetConsoleCursorInfo(scr_out, &hidden);
    blink_thread.store(CreateThread(nullptr, 0, scr_blink_thread, nullptr, 0, nullptr));
}

void scr_show_phase(int16_t normal) {
    ticket_lock(&scr_lock);
    blink_phase = normal ? 0 : 1;
    WORD run[1024];
    for (int32_t cell = scr_rows * scr_cols - 1; cell >= 0; --cell) {
        uint16_t pair = scr_attrs[cell];
        if ((pair >> 8) == (pair & 0xFF)) continue;
        // The run ends here; it reaches left while the cells still blink,
        // never past the row's first column.
        int32_t row_start = cell - cell % scr_cols;
        int32_t first = cell;
        while (first > row_start && (scr_attrs[first - 1] >> 8) != (scr_attrs[first - 1] & 0xFF)) --first;
        for (int32_t i = first; i <= cell; ++i)
            run[i - first] = normal ? WORD(scr_attrs[i] & 0xFF) : WORD(scr_attrs[i] >> 8);
        COORD at = {static_cast<SHORT>(first % scr_cols), static_cast<SHORT>(first / scr_cols)};
        DWORD done = 0;
        WriteConsoleOutputAttribute(scr_out, run, static_cast<DWORD>(cell - first + 1), at, &done);
        cell = first;
    }
    ticket_unlock(&scr_lock);
}

namespace {
// A phase is slept in steps of 50 ms, so that a stop (ESC) is answered within
// 50 ms, not at the end of a 700 ms phase.
void blink_sleep(int32_t ms) {
    for (; ms > 0 && blink_stop.load() == 0; ms -= 50) Sleep(static_cast<DWORD>(ms < 50 ? ms : 50));
}
}  // namespace

DWORD WINAPI scr_blink_thread(LPVOID) {
    while (blink_stop.load() == 0) {
        bool switched = false;
        if (blink_cells.load(std::memory_order_relaxed) != 0) {
            scr_show_phase(0);
            switched = true;
        }
        blink_sleep(blink_alt_ms);
        if (switched) scr_show_phase(1);
        blink_sleep(blink_normal_ms);
    }
    blink_thread.store(nullptr);
    // The last act: from here on the main thread owns the screen again.
    blink_stop.store(0);
    ExitThread(0);
}

void scr_restore() {
    if (blink_thread.load() != nullptr) {
        blink_stop.store(1);
        // The thread answers within one of its 50 ms sleeps: wait for it in
        // 1 ms sleeps rather than burn a processor.
        while (blink_stop.load() != 0) Sleep(1);
    }
    if (saved_cells == nullptr) return;
    // Window before buffer, twice, for the reason scr_size gives.
    for (int pass = 0; pass < 2; ++pass) {
        SetConsoleWindowInfo(scr_out, TRUE, &saved_info.srWindow);
        SetConsoleScreenBufferSize(scr_out, saved_info.dwSize);
    }
    COORD origin = {0, 0};
    DWORD done = 0;
    WriteConsoleOutputCharacterA(scr_out, saved_cells, static_cast<DWORD>(saved_count), origin, &done);
    WriteConsoleOutputAttribute(scr_out, saved_attributes(), static_cast<DWORD>(saved_count), origin, &done);
    mem_free(saved_cells);
    saved_cells = nullptr;
    SetConsoleTextAttribute(scr_out, saved_info.wAttributes);
    SetConsoleCursorPosition(scr_out, saved_info.dwCursorPosition);
    SetConsoleCursorInfo(scr_out, &saved_cursor);
}

void scr_cursor(int32_t shape) {
    CONSOLE_CURSOR_INFO info;
    switch (static_cast<int16_t>(shape)) {
        case 1: info = {20, TRUE}; break;
        case 2: info = {50, TRUE}; break;
        case 3: info = {100, TRUE}; break;
        default: info = {1, FALSE}; break;
    }
    ticket_lock(&scr_lock);
    SetConsoleCursorInfo(scr_out, &info);
    ticket_unlock(&scr_lock);
}
