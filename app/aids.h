// The alignment aids that options add to the monitor: a peak hold (--peak,
// app/peak.cpp), a strip of recent readings (--history, app/history.cpp) and
// a log of readings (--log, app/log.cpp). The polling cycle tells them what
// happens through the aids_ calls; each aid does nothing unless its option is
// on, so that without options the screen stays as it always was.
#pragma once

#include <cstdint>

// Start-up, before the port or the screen is touched: opens the log, or ends
// rxmon with a message and code 1.
void aids_open();
// The port is known.
void aids_started();
// Each time round the polling cycle, so that the strip keeps its pace in
// silence too.
void aids_tick();
// The scanner answered the model query (the model as the screen shows it).
void aids_found(const char* model);
// A pass with every reading agreed, before its signal bar is drawn.
void aids_pass(const char* model, int32_t level, int32_t tuning, int32_t frequency, int32_t signal);
// The model query went unanswered twice.
void aids_lost();
// A search of the rates begins: at the start, and when a port that went
// away is back (aids_back, which counts the reconnection).
void aids_searching();
void aids_back();
// Under --reconnect the port went away, or was not there at the start.
void aids_waiting();
void aids_ended();

// Peak hold on the monitor's millisecond clock: the highest recent reading
// holds for kPeakHoldMs, then falls to the current reading over kPeakFallMs.
struct PeakHold {
    int32_t value = -1;  // what the mark shows; -1: none
    int32_t top = -1;    // where the fall started from
    int64_t held_at = 0;
    int32_t last = -1;  // the latest reading, for the P key
};
extern PeakHold peak;
constexpr int64_t kPeakHoldMs = 2500, kPeakFallMs = 2000;
void peak_update(int32_t signal, int64_t now);
void peak_clear();
void peak_draw();
// P with --peak: the peak drops to the current reading. False without --peak.
bool peak_key();
// Puts the mark into the signal bar's 39 cells (app/panels.cpp).
void peak_mark(char* bar, int32_t signal);

// The strip: one cell a second for the last 20 seconds, newest at the right.
struct History {
    int16_t cells[20];    // the highest reading of each second; -1 none, -2 not yet watched
    int32_t current = -1;  // the highest reading of the second under way
    int64_t cell_start = -1;
};
extern History history;
void history_advance(int64_t now);
void history_note(int32_t signal);

// The log: one CSV row per completed pass, and a row for each event.
void log_pass(const char* model, int32_t level, int32_t tuning, int32_t frequency, int32_t signal);
void log_event(const char* model, const char* event);
// Each time round: shows on row 4 why the log stopped (or that it was opened
// again), and every 2 s checks that its path still leads to the file.
void log_tick();
// The local time as 2026-03-01T13:00:00.250+01:00.
void log_time(char* out);
