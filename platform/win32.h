// The one door to the operating system. Every subsystem reaches KERNEL32 and
// WINMM through this header and nothing else: on Windows it is the real API,
// elsewhere our own implementation of exactly the subset we call, with the
// same names, types and constants (platform/posix/).
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>
// A port argument that is not a number names no port: Windows knows its
// ports by number alone; and a failed open has no cause beyond its error
// code. (The POSIX layer also takes device paths and network ports, and
// tells the causes; see platform/posix/win_serial.h.)
inline int platform_port_name(const char*, char* why, int) { return why[0] = 0, 0; }
inline int platform_port_failure(DWORD, char*, int) { return 0; }
#else
#include "platform/posix/kernel32.h"
#endif
