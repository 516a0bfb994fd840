// A recording fake of the platform subset, linked into unit tests in place of
// the POSIX backend. Every call is logged by name; the results of the calls
// that tests need to steer come from the scripts below, which reset() puts
// back to plain, successful defaults.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace fake {

// ExitProcess throws this, so that a test can watch a fatal stop in-process.
struct Exit {
    int code;
};

void reset();
void record(const char* name);
extern std::vector<std::string> calls;
int count(const std::string& name);

// Time. The tick count and performance counter read these values, which
// Sleep advances by the time slept (the counter at 10 MHz).
extern uint32_t tick_count;
extern int64_t counter;
extern std::function<BOOL(LARGE_INTEGER*)> performance_frequency;  // default: 10 MHz
extern std::vector<DWORD> sleeps;

// Memory. Null from the script refuses the request; the default allocates.
extern std::function<bool(SIZE_T size)> virtual_alloc_refuses;
extern DWORD page_size;
extern std::vector<SIZE_T> alloc_sizes;  // every VirtualAlloc request
int live_blocks();

// Standard handles, their file types and console modes.
extern HANDLE std_handles[3];
extern std::map<HANDLE, DWORD> file_types;
extern std::map<HANDLE, DWORD> console_modes;  // absent: not a console

// Everything written to each handle, and how much each write may take:
// writes to a handle in short_writes deliver at most that many bytes.
extern std::map<HANDLE, std::string> written;
extern std::map<HANDLE, DWORD> short_writes;

// An in-memory disk. Handles are small numbers, reused after close as
// Windows reuses them.
extern std::map<std::string, std::string> disk;
extern std::vector<std::string> refused_names;  // CreateFileA fails for these
int reads_of(HANDLE h);

extern std::string command_line;
// GetFullPathNameA: names not beginning with a drive get this prefix.
extern std::string current_directory;

}  // namespace fake
