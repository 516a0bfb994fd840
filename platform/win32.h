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
#else
#include "platform/posix/kernel32.h"
#endif
