// hamlib's rigctld line protocol, read-only: what --rigctl answers to the
// radio programs on the desk (rigctl -m 2, loggers' raw TCP clients). A pure
// function of the bytes a client sent and a snapshot of the readings, so that
// the fuzzer and the tests drive it without a socket; net/rigctl_server.cpp
// carries it over TCP.
#pragma once

#include <cstdint>
#include <string>

#include "net/readings.h"

// A longer line is answered RPRT -1 and dropped (up to its line end).
constexpr int32_t kRigctlLineMax = 1024;

// One client's line being gathered.
struct RigctlLine {
    char text[kRigctlLineMax];
    int32_t length = 0;
    bool too_long = false;  // the line outgrew the limit: dropped to its end
    bool quit = false;      // q was answered: the connection ends
};

// Answers one whole line (without its line end) from the readings, appending
// to `out`; true when the line asked to quit (after its answer).
bool rigctl_answer(const char* line, int32_t length, const Readings& now, std::string* out);

// Takes bytes as they arrive, in any pieces, and answers each line they
// complete. Bytes after a quit are ignored.
void rigctl_feed(RigctlLine& line, const char* data, int32_t count, const Readings& now, std::string* out);

// The signal reading 0-1023 as dB relative to S9, as hamlib's STRENGTH
// level: linearly from -54 dB (S0) at 0 to +60 dB at 1023, rounded.
int32_t rigctl_strength_db(int32_t signal);

struct NetAddress;
// Binds the address and answers up to 16 clients at once on a thread of its
// own (the next is closed at once), from the latest readings; false with
// the cause in `why` when the address cannot be bound. The caller has
// called readings_enable().
bool rigctl_serve(const NetAddress& address, char* why, int room);
