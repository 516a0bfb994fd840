// The monitor: start-up and shutdown, the baud-rate search with its polling
// cycle, the screen panels, the signal tone and the keyboard commands. The
// state they share is `mon` (app/state.h); the scanner exchange is
// app/scanner.h.
#pragma once

#include <cstdint>

#include "app/scanner.h"
#include "app/state.h"
#include "platform/win32.h"

[[noreturn]] void monitor_main();
void monitor_startup();
[[noreturn]] void monitor_quit();

// Polling (runs for ever once started, on the main thread).
[[noreturn]] void baud_loop();
void poll_cycle();
void show_status(int32_t value);  // 0 autobaud, -1 no communication, -2 waiting for the port, else a baud rate
void set_title(const char* text);

// Panels.
void draw_level_panel(int32_t level);
void draw_tuning_panel(int32_t reading, int32_t frequency);
void draw_signal_bar(int32_t signal);
void draw_sound_panel();
int32_t snap_to_50(int32_t x);
void snd_beep(int32_t frequency, int32_t units);  // units of 10 ms

// Tone.
void build_pitch_table();
DWORD WINAPI tone_thread(LPVOID unused);
extern bool tone_started;  // its thread runs, so quitting waits for its answer
// The phase step per sample, in 1/360000 of a cycle, rounded to nearest.
int32_t tone_increment(int32_t pitch, int32_t rate);
// One buffer of square wave that ends at phase 0 on its last sample.
void tone_fill(int16_t* samples, int32_t count, int32_t increment, int32_t volume);
// The pitch index the tone plays for a reading: 0 (silence) when muted or
// when the reading is outside the table.
int32_t tone_index(int32_t signal, int16_t muted);

// Keys.
void handle_keys();
