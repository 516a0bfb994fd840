// The monitor's global state, one record for the whole run, and the port
// (re)opening that start-up and the baud-rate search share. The words that
// the tone thread reads or writes are atomics of their stated width.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"
#include "runtime/txt.h"

struct MonitorState {
    int32_t port_number = 0;  // 1..9 once start-up has passed
    // A port named by a device path or a network address, as the user gave
    // it; empty for a port given by number.
    char port_name[256] = {};
    const int32_t baud_table[5] = {9600, 19200, 38400, 57600, 115200};
    int32_t baud_index = 0;
    int32_t current_baud = 0;
    int32_t answered_baud = 0;  // the rate the scanner last answered at; 0 before it has
    std::atomic<int32_t> sound_choice{1};  // 0 Beep output, n tone on wave device n-1
    const int32_t sample_rates[5] = {11025, 22050, 44100, 48000, 96000};
    // Beep modes 0..5; modes 4 and 5 beep alike and differ only in name.
    const char* const mode_names[6] = {T("silent    "), T("every 8th "), T("every 4th "),
                                       T("every 2nd "), T("every one "), T("continuous")};
    int32_t beep_mode = 0;
    std::atomic<int32_t> volume{0};  // percent; silent until the user raises it
    std::atomic<int16_t> muted{0};
    std::atomic<int16_t> quit_flag{0};  // shutdown handshake with the tone thread
    int32_t pitch_table[1024] = {};     // Hz by signal reading, filled before the tone thread
    std::atomic<int32_t> signal_index{0};  // latest reading; 0 is silence
    int16_t model_a = 0, model_b = 0;
    int16_t connected = 0;
    int32_t lost_count = 0;
    int32_t signal_fail_count = 0;
    int32_t reading_count = 0;
    char last_title[256] = {};
};

extern MonitorState mon;

// The port as the texts name it: its name, or COM and its number.
void port_label(char* out);

// The line that says why the port did not open, for the last error `code`:
// its cause as the platform tells it, else as the code names it (not found;
// in use or not permitted), else "absent or in use".
void open_failure_text(char* out, DWORD code);

// Closes and reopens the port at this rate and drains what it holds: 0 when
// open; 1 when it will not open, with the line saying why in `failure`; 2
// when ESC ended a network port's wait; 3 when it is no port at all (not a
// serial device, an address that cannot be one), which no wait mends.
int32_t try_open(int32_t baud, char* failure);
// Ends the program with code 1 and this line, on a restored console.
[[noreturn]] void open_failed(const char* failure);

// Closes and reopens the port at this rate and drains what it holds; a port
// that will not open ends the program with code 1 and the line saying why,
// on a restored console, or under --reconnect is waited for. ESC ending a
// network port's wait ends the program as ESC does.
void open_at_baud(int32_t baud);

// Under --reconnect: shows that the port is waited for, tries it about once
// a second (a network port every 2 s after the first) with the keys
// answered and the strip moving meanwhile, and once it is back starts a
// new search: the port is open at the rate the scanner last answered at,
// and the baud loop goes on with the whole search from its first rate.
void wait_for_port();
