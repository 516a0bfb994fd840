// A failed property stops the fuzz program with what failed and where, so
// that the saved input comes with its reason.
#pragma once
#include <cstdio>
#include <cstdlib>
#define EXPECT(c) ((c) ? (void)0 : (fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #c), abort()))
