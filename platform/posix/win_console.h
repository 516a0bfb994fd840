// Declarations of this area are added by its backend.
#pragma once
#include "platform/posix/win_types.h"
