// Options add to the monitor and never change it: each is a word that starts
// with '-' and may stand anywhere among the arguments before "--"; the port and the sound
// choice are what is left. Without options rxmon is as it always was.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct MonitorOptions {
    int16_t reconnect = 0;    // a port that goes away is waited for
    int16_t peak = 0;         // peak hold on the signal row
    int16_t history = 0;      // a strip of recent readings
    char log_path[260] = {};  // CSV log of readings; empty: none
    char rigctl[300] = {};    // --rigctl [HOST:]PORT, hamlib's rigctld protocol; empty: none
    char serve[300] = {};     // --serve [HOST:]PORT, the readings over HTTP; empty: none
};

extern MonitorOptions options;

// Takes the options out of the argument text, read left to right; "--"
// ends them. --help, -h and --version are answered first, wherever they
// stand (exit 0). An option rxmon does not know, or one without its value,
// prints why and the usage on error output and ends with 2; a value too long
// ends with 1. A negative number is an argument, not an option. The other
// arguments, plain, go to words (at most max); returns how many there were.
int32_t take_options(const char* arguments, const char* words[], int32_t max);

// The usage text on this output; 0 when it arrived whole.
int32_t print_usage(HANDLE output);
