// A recording fake of the platform subset, linked into unit tests in place of
// the POSIX backend. Every call is logged by name; what tests steer comes
// from the variables below, which reset() (first thing in every test) puts
// back to plain successes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace fake {

struct Exit {  // ExitProcess throws it, so that a test watches a fatal stop in-process
    int code;
};

void reset();
void record(const char* name);
extern std::vector<std::string> calls;
int count(const std::string& name);

// Sleep advances the tick count and the counter (10 MHz) by the time slept.
extern uint32_t tick_count;
extern int64_t counter;
extern int64_t counter_hz;  // what QueryPerformanceFrequency reports
extern BOOL counter_ok;     // and returns
extern std::vector<DWORD> sleeps;

// VirtualAlloc refuses this many requests before it allocates again.
extern int alloc_refusals;
extern std::vector<SIZE_T> alloc_sizes;
int live_blocks();

extern LPTOP_LEVEL_EXCEPTION_FILTER exception_filter;  // the last one installed

// Standard handles (all of them the console) and their console modes
// (absent: no console), and everything written to each handle.
extern HANDLE std_handles[3];
extern std::map<HANDLE, DWORD> console_modes;
extern std::map<HANDLE, std::string> written;

// An in-memory disk; handles are reused after close, as Windows does. Names
// not beginning with a drive are in C:\work\.
extern std::map<std::string, std::string> disk;
extern std::vector<std::string> refused_names;  // CreateFileA fails for these
extern std::string command_line;

}  // namespace fake
