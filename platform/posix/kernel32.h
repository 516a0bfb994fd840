// The KERNEL32/WINMM subset that rxmon calls, declared for POSIX systems.
// Types keep their Windows widths (DWORD and LONG are 32 bits on x86_64
// Linux too), so that shared code behaves the same on both platforms.
//
// Map: types and constants; per area, one header below with its calls:
//   win_types.h    base types, handles, errors
//   win_files.h    files, std handles, paths, process, memory, time
//   win_console.h  console output and input        (console backend)
//   win_serial.h   COM ports                       (serial backend)
//   win_sound.h    waveOut and Beep                (sound backend)
//   win_except.h   unhandled-exception filter      (crash backend)
#pragma once

#include "platform/posix/win_types.h"
#include "platform/posix/win_files.h"
#include "platform/posix/win_console.h"
#include "platform/posix/win_serial.h"
#include "platform/posix/win_sound.h"
#include "platform/posix/win_except.h"
