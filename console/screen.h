// The text screen: a shadow of every cell with a normal and an alternate
// attribute, drawing that sends only changed runs to the console, the ticket
// lock that serialises the drawing thread and the blink thread, and the
// take-over and give-back of the console around the full-screen display.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"
#include "runtime/fmt.h"

// First come, first served; waiting sleeps 1 ms per try; not re-entrant.
struct TicketLock {
    std::atomic<uint8_t> guard{0};        // 1 while a caller draws a ticket
    std::atomic<uint8_t> now_serving{0};  // the ticket allowed in
    std::atomic<uint8_t> next_ticket{0};  // the next ticket handed out
};

void ticket_lock(TicketLock* lock);
void ticket_unlock(TicketLock* lock);

extern HANDLE scr_out;
extern int32_t scr_rows, scr_cols;
extern char* scr_chars;                   // rows × columns, row-major
extern uint16_t* scr_attrs;               // low byte normal, high byte alternate
extern std::atomic<int32_t> blink_cells;  // cells whose two attributes differ
extern int16_t blink_phase;               // 1 while the alternate attributes show
extern TicketLock scr_lock;

// A ColourCode (low 16 bits of the argument) as its attribute pair.
uint16_t scr_colour_pair(int32_t colour);

// Rows and columns count from 1. Text may be a text constant.
void scr_print(const char* text, int32_t colour, int32_t row, int32_t column);
void scr_vprintf(int32_t row, int32_t column, int32_t colour, const char* format, FmtList args);
void scr_fill(int32_t length, int32_t colour, int32_t row, int32_t column);
void scr_clear(int32_t colour);
void scr_size(int32_t rows, int32_t columns);

template <typename... A>
void scr_printf(int32_t row, int32_t column, int32_t colour, const char* format, const A&... args) {
    const FmtArg list[] = {FmtArg(args)..., FmtArg(0)};
    scr_vprintf(row, column, colour, format, FmtList{list, static_cast<int>(sizeof...(A))});
}

// Take-over, cursor and blinking.
extern CONSOLE_SCREEN_BUFFER_INFO saved_info;
extern CONSOLE_CURSOR_INFO saved_cursor;
extern char* saved_cells;  // null, or the saved characters and attributes
extern std::atomic<HANDLE> blink_thread;
extern std::atomic<int16_t> blink_stop;
extern int32_t blink_normal_ms, blink_alt_ms;

// 0 once the console is open (and saved, if asked); 1 when there is no
// console to take over, with the system's reason as the last error.
int scr_attach(int16_t save);
void scr_open(int16_t save, int32_t rows, int32_t columns);
void scr_restore();
void scr_cursor(int32_t shape);
void scr_show_phase(int16_t normal);
DWORD WINAPI scr_blink_thread(LPVOID unused);
