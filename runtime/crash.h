// The crash report: when an exception that nothing handles ends the program,
// the filter installed here writes what went wrong, where, and the registers
// to error output and into a report file, then ends the process with code 1.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

extern DWORD crash_delay;                   // ms slept after each separator
extern const char* crash_file_name;         // null: error output only
extern std::atomic<int16_t> crash_running;  // set by the first entry of the filter

// Installs the filter (crash_filter when null) with the delay and the report
// file name (which may be null); returns the filter installed before.
LPTOP_LEVEL_EXCEPTION_FILTER crash_install(LPTOP_LEVEL_EXCEPTION_FILTER filter, DWORD delay, const char* file_name);

// The default filter. A second entry (a fault while reporting) ends the
// process at once.
[[noreturn]] LONG WINAPI crash_filter(EXCEPTION_POINTERS* pointers);

// Writes the report on one handle.
void crash_report(HANDLE handle, const EXCEPTION_POINTERS* pointers);

// The process priority class; 0 on success, 1 on failure.
int priority_normal();
int priority_high();
