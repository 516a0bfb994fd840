// Options add to the monitor and never change it: each is a word that starts
// with '-' and may stand anywhere among the arguments; the port and the sound
// choice are what is left. Without options rxmon is as it always was.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct MonitorOptions {
    int16_t reconnect = 0;    // a port that goes away is waited for
    int16_t peak = 0;         // peak hold on the signal row
    int16_t history = 0;      // a strip of recent readings
    char log_path[260] = {};  // CSV log of readings; empty: none
    int32_t serve_port = 0;   // --serve: the readings over HTTP; 0: none
    char serve_host[256] = {};
};

extern MonitorOptions options;

// Takes the options out of the argument text in place. --help, -h and
// --version are answered here (exit 0); an option rxmon does not know, or
// one without its value, prints why and the usage on error output and ends
// with 2. A negative number is an argument, not an option.
void take_options(char* arguments);

// The usage text on this output; 0 when it arrived whole.
int32_t print_usage(HANDLE output);
