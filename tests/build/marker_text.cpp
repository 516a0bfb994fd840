// Compiled by the tests with RXMON_TEXT set to a literal: the build must
// refuse a text holding a byte 0x80..0x9F and take any other.
#include "runtime/txt.h"

char* probe() { return T(RXMON_TEXT); }
