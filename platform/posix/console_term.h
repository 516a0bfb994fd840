// What the console output and input halves share: the terminal's
// capabilities from terminfo, the give-back of the terminal on every way
// out, and the key decoder (kept apart so that it can be tested alone).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/kernel32.h"

namespace posix::term {

// Loads terminfo for standard output once. False when standard output is
// not a terminal, or one that cannot place the cursor: then there is no
// console, as on Windows without one.
bool output_ready();
// Why not, when it is not: one sentence naming the cause.
const std::string& output_refusal();
// Standard input is a terminal.
bool input_ready();

// Capabilities, empty where the terminal lacks them.
struct Caps {
    std::string enter_screen, leave_screen;  // the alternate screen
    std::string clear, reset_attributes, bold;
    std::string hide_cursor, show_cursor;
    std::string bell_text;  // "bel"
    std::string title_start, title_end;
    int colours = 0;
    bool utf8 = false;
};
const Caps& caps();
std::string move_to(int row, int column);  // 0-based
// What changes the terminal's colours from one console attribute to
// another (from 0xFFFF: from unknown colours).
std::string colour_change(WORD from, WORD to);
// The text that shows a console character (code page 437).
const std::string& glyph(unsigned char c);
// The Unicode character of a code page 437 one from 128 up.
uint32_t cp437_high(unsigned char c);

// Cell writes (WriteConsoleOutputCharacterA and ...Attribute) made so far,
// for the benchmark.
extern std::atomic<int64_t> console_write_calls;

// Writes everything to the terminal, retrying short writes.
void put(const std::string& bytes);

// The terminal's state, for the give-back. Each setter installs the signal
// handlers and the exit hook the first time anything is changed.
void set_full_screen(bool on);
void set_cursor_hidden(bool hidden);
void set_title_pushed();
void set_raw_input(bool raw, bool signal_keys);
// Text that the standard handles write while the full screen shows; it is
// written again after the screen is given back, so that a fatal message
// stays visible. Returns false when the bytes should go out as usual, else
// sets how many were kept (held_text.h).
bool hold_output(int fd, const void* data, size_t count, size_t* kept);
// Gives everything back; safe in a signal handler and safe to repeat.
void give_back();

// Set by SIGWINCH; the output half repaints and clears it.
bool take_resize();
// The output half's repaint after a resize, for the input half to call.
void repaint_if_resized();
void terminal_size(int* row_count, int* column_count);

// Key decoding: bytes from the terminal into KEY_EVENT records. Returns the
// number of bytes used; a sequence that may still be incomplete is left
// unless `final` is set, when it is read as ESC (or Alt) and what follows.
struct KeyString {
    std::string bytes;
    WORD scan;
    DWORD state;
};
size_t decode_keys(const unsigned char* bytes, size_t count, bool final, const std::vector<KeyString>& known,
                   bool utf8, std::vector<INPUT_RECORD>* out);
// The key strings that terminfo names for this terminal.
const std::vector<KeyString>& terminfo_keys();

}  // namespace posix::term
