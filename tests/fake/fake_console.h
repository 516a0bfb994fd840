// The fake's console: one screen buffer with Windows' rules for sizes and
// windows, its cells, cursor and title, and a queue of input records.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace fake {

struct Console {
    COORD size;
    SMALL_RECT window;
    COORD largest;  // what GetLargestConsoleWindowSize reports
    CONSOLE_CURSOR_INFO cursor_info;
    std::vector<char> chars;  // size.X × size.Y, row-major
    std::vector<WORD> attrs;
    std::string title;
    std::deque<INPUT_RECORD> input;
};
extern Console& console;
extern HANDLE console_output;  // the handle CreateFileA gives for CONOUT$

// A screen buffer of that size, window over all of it, blanks in colour 7.
void console_setup(SHORT columns, SHORT rows);
std::string console_line(int row);  // 0-based
WORD console_attr(int row, int column);

// A key's down and up records, as the console would report them.
void type_key(WORD scan, char ch, DWORD state = 0);

}  // namespace fake
