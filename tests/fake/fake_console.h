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
    COORD cursor;
    WORD text_attribute;
    CONSOLE_CURSOR_INFO cursor_info;
    std::vector<char> chars;   // size.X × size.Y, row-major
    std::vector<WORD> attrs;
    std::string title;
    std::deque<INPUT_RECORD> input;
    bool present;  // false: every console call fails, as with no console
};
extern Console& console;
extern HANDLE console_output;  // the handle CreateFileA gives for CONOUT$

// A screen buffer of that size, window over all of it, blanks in colour 7.
void console_setup(SHORT columns, SHORT rows);
char console_char(int row, int column);  // 0-based
WORD console_attr(int row, int column);
std::string console_line(int row);

// CreateFileA's answer for CONOUT$ and CONIN$.
HANDLE console_open(const std::string& name);

// Input records as the console would report them.
INPUT_RECORD key_event(WORD scan, char ch, DWORD state, BOOL down = TRUE);
void type_key(WORD scan, char ch, DWORD state = 0);

}  // namespace fake
