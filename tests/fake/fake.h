// A recording fake of the platform subset, linked into unit tests in place of
// the POSIX backend. Calls are logged by name; what tests steer comes from
// the variables below, which reset() (first thing in every test) puts back
// to plain successes.
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

// Sleep advances the tick count and the counter (10 MHz) by the time slept,
// as advance does; while another thread runs, it also waits that long.
void advance(int64_t ms);
extern uint32_t tick_count;
extern int64_t counter, counter_hz;  // what QueryPerformanceFrequency reports
extern BOOL counter_ok;              // and returns
extern std::vector<DWORD> sleeps;
// The calendar reads 2026-03-01 12:00:00.000 UTC when the clock reads 0 ms;
// local time is this many minutes ahead.
extern int utc_offset_min;

// VirtualAlloc refuses this many requests before it allocates again.
extern int alloc_refusals;
extern std::vector<SIZE_T> alloc_sizes;
int live_blocks();  // of those allocated since the last reset

extern LPTOP_LEVEL_EXCEPTION_FILTER exception_filter;  // the last one installed

// Everything written to each handle that is no file (the standard ones), an
// in-memory disk whose names not beginning with a drive are in C:\work\, and
// names that CreateFileA refuses.
extern std::map<HANDLE, std::string> written;
extern std::map<std::string, std::string> disk;
extern std::vector<std::string> refused_names;
extern size_t disk_free;  // bytes the disk still takes: a longer write stops there and fails
extern std::string command_line;

}  // namespace fake
