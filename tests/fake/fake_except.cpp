// The fake's SetUnhandledExceptionFilter.
#include "tests/fake/fake_except.h"

namespace fake {

LPTOP_LEVEL_EXCEPTION_FILTER exception_filter;

void reset_except() { exception_filter = nullptr; }

}  // namespace fake

extern "C" {

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    fake::record("SetUnhandledExceptionFilter");
    LPTOP_LEVEL_EXCEPTION_FILTER before = fake::exception_filter;
    fake::exception_filter = filter;
    return before;
}

}  // extern "C"
