// A failed property stops the fuzz program with what failed and where, so
// that the saved input comes with its reason.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fuzz_failed(const char* what, const char* file, int line) {
    fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    abort();
}

#define EXPECT(condition) ((condition) ? (void)0 : fuzz_failed(#condition, __FILE__, __LINE__))
