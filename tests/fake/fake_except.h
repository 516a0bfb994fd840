// The fake's unhandled-exception filter: SetUnhandledExceptionFilter only
// stores the filter here, so that a test can see what was installed.
#pragma once

#include "tests/fake/fake.h"

namespace fake {
extern LPTOP_LEVEL_EXCEPTION_FILTER exception_filter;  // default: none
}
