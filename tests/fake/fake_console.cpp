// The fake's console calls. The screen buffer follows Windows' rules where
// the screen code depends on them: a buffer smaller than the window and a
// window larger than the buffer or the largest window are refused, and runs
// of cells wrap from one row to the next and stop at the buffer's end.
#include "tests/fake/fake_console.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "tests/fake/fake.h"

namespace fake {

namespace {
// The fake's reset runs while static objects are still being built, so the
// console is built on first use rather than in the order of the files.
Console& state() {
    static Console c;
    return c;
}
}  // namespace
Console& console = state();
HANDLE console_output = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xC0));

namespace {
// The blink thread draws while the main thread does; the real console
// serialises its calls, and so does this one.
std::recursive_mutex console_mutex;

bool is_console(HANDLE h) { return console.present && h == console_output; }
bool is_input(HANDLE h) { return console.present && h == std_handles[0]; }
int cells() { return console.size.X * console.size.Y; }
int index_of(COORD at) { return at.Y * console.size.X + at.X; }
bool inside(COORD at) { return at.X >= 0 && at.Y >= 0 && at.X < console.size.X && at.Y < console.size.Y; }
}  // namespace

void reset_console() {
    std::lock_guard<std::recursive_mutex> g(console_mutex);
    Console& c = state();
    c = Console{};
    c.present = true;
    c.largest = {150, 50};
    console_setup(80, 25);
    c.cursor = {0, 24};
    c.cursor_info = {25, TRUE};
}

void console_setup(SHORT columns, SHORT rows) {
    std::lock_guard<std::recursive_mutex> g(console_mutex);
    Console& c = state();
    c.size = {columns, rows};
    c.window = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
    c.text_attribute = 7;
    c.chars.assign(static_cast<size_t>(columns * rows), ' ');
    c.attrs.assign(static_cast<size_t>(columns * rows), 7);
}

char console_char(int row, int column) {
    std::lock_guard<std::recursive_mutex> g(console_mutex);
    return console.chars.at(static_cast<size_t>(row * console.size.X + column));
}

WORD console_attr(int row, int column) {
    std::lock_guard<std::recursive_mutex> g(console_mutex);
    return console.attrs.at(static_cast<size_t>(row * console.size.X + column));
}

std::string console_line(int row) {
    std::lock_guard<std::recursive_mutex> g(console_mutex);
    return std::string(console.chars.begin() + row * console.size.X, console.chars.begin() + (row + 1) * console.size.X);
}

INPUT_RECORD key_event(WORD scan, char ch, DWORD state, BOOL down) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = down;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualScanCode = scan;
    r.Event.KeyEvent.uChar.AsciiChar = ch;
    r.Event.KeyEvent.dwControlKeyState = state;
    return r;
}

void type_key(WORD scan, char ch, DWORD state) {
    std::lock_guard<std::recursive_mutex> g(console_mutex);
    console.input.push_back(key_event(scan, ch, state, TRUE));
    console.input.push_back(key_event(scan, ch, state, FALSE));
}

HANDLE console_open(const std::string& name) {
    if (!console.present) return INVALID_HANDLE_VALUE;
    return name == "CONIN$" ? std_handles[0] : console_output;
}

}  // namespace fake

using fake::console;
using fake::console_mutex;
using Guard = std::lock_guard<std::recursive_mutex>;

extern "C" {

BOOL WINAPI GetConsoleScreenBufferInfo(HANDLE h, PCONSOLE_SCREEN_BUFFER_INFO info) {
    fake::record("GetConsoleScreenBufferInfo");
    Guard g(console_mutex);
    if (!fake::is_console(h)) return FALSE;
    info->dwSize = console.size;
    info->dwCursorPosition = console.cursor;
    info->wAttributes = console.text_attribute;
    info->srWindow = console.window;
    info->dwMaximumWindowSize = console.largest;
    return TRUE;
}

BOOL WINAPI GetConsoleCursorInfo(HANDLE h, PCONSOLE_CURSOR_INFO info) {
    fake::record("GetConsoleCursorInfo");
    Guard g(console_mutex);
    if (!fake::is_console(h)) return FALSE;
    *info = console.cursor_info;
    return TRUE;
}

BOOL WINAPI SetConsoleCursorInfo(HANDLE h, const CONSOLE_CURSOR_INFO* info) {
    fake::record("SetConsoleCursorInfo");
    Guard g(console_mutex);
    if (!fake::is_console(h) || info->dwSize < 1 || info->dwSize > 100) return FALSE;
    console.cursor_info = *info;
    return TRUE;
}

BOOL WINAPI SetConsoleCursorPosition(HANDLE h, COORD position) {
    fake::record("SetConsoleCursorPosition");
    Guard g(console_mutex);
    if (!fake::is_console(h) || !fake::inside(position)) return FALSE;
    console.cursor = position;
    return TRUE;
}

BOOL WINAPI SetConsoleTextAttribute(HANDLE h, WORD attributes) {
    fake::record("SetConsoleTextAttribute");
    Guard g(console_mutex);
    if (!fake::is_console(h)) return FALSE;
    console.text_attribute = attributes;
    return TRUE;
}

COORD WINAPI GetLargestConsoleWindowSize(HANDLE h) {
    fake::record("GetLargestConsoleWindowSize");
    Guard g(console_mutex);
    if (!fake::is_console(h)) return COORD{0, 0};
    return console.largest;
}

BOOL WINAPI SetConsoleScreenBufferSize(HANDLE h, COORD size) {
    fake::record("SetConsoleScreenBufferSize");
    Guard g(console_mutex);
    if (!fake::is_console(h)) return FALSE;
    if (size.X <= console.window.Right - console.window.Left || size.Y <= console.window.Bottom - console.window.Top)
        return FALSE;
    std::vector<char> chars(static_cast<size_t>(size.X * size.Y), ' ');
    std::vector<WORD> attrs(static_cast<size_t>(size.X * size.Y), console.text_attribute);
    for (int y = 0; y < size.Y && y < console.size.Y; ++y)
        for (int x = 0; x < size.X && x < console.size.X; ++x) {
            chars[static_cast<size_t>(y * size.X + x)] = console.chars[static_cast<size_t>(y * console.size.X + x)];
            attrs[static_cast<size_t>(y * size.X + x)] = console.attrs[static_cast<size_t>(y * console.size.X + x)];
        }
    console.size = size;
    console.chars.swap(chars);
    console.attrs.swap(attrs);
    if (console.cursor.X >= size.X) console.cursor.X = static_cast<SHORT>(size.X - 1);
    if (console.cursor.Y >= size.Y) console.cursor.Y = static_cast<SHORT>(size.Y - 1);
    return TRUE;
}

BOOL WINAPI SetConsoleWindowInfo(HANDLE h, BOOL absolute, const SMALL_RECT* window) {
    fake::record("SetConsoleWindowInfo");
    Guard g(console_mutex);
    if (!fake::is_console(h)) return FALSE;
    SMALL_RECT w = *window;
    if (!absolute) {
        w.Left = static_cast<SHORT>(w.Left + console.window.Left);
        w.Top = static_cast<SHORT>(w.Top + console.window.Top);
        w.Right = static_cast<SHORT>(w.Right + console.window.Right);
        w.Bottom = static_cast<SHORT>(w.Bottom + console.window.Bottom);
    }
    if (w.Left < 0 || w.Top < 0 || w.Right < w.Left || w.Bottom < w.Top || w.Right >= console.size.X ||
        w.Bottom >= console.size.Y || w.Right - w.Left >= console.largest.X || w.Bottom - w.Top >= console.largest.Y)
        return FALSE;
    console.window = w;
    return TRUE;
}

BOOL WINAPI ReadConsoleOutputCharacterA(HANDLE h, LPSTR chars, DWORD length, COORD from, LPDWORD read) {
    fake::record("ReadConsoleOutputCharacterA");
    Guard g(console_mutex);
    *read = 0;
    if (!fake::is_console(h) || !fake::inside(from)) return FALSE;
    DWORD n = std::min<DWORD>(length, static_cast<DWORD>(fake::cells() - fake::index_of(from)));
    memcpy(chars, console.chars.data() + fake::index_of(from), n);
    *read = n;
    return TRUE;
}

BOOL WINAPI ReadConsoleOutputAttribute(HANDLE h, WORD* attributes, DWORD length, COORD from, LPDWORD read) {
    fake::record("ReadConsoleOutputAttribute");
    Guard g(console_mutex);
    *read = 0;
    if (!fake::is_console(h) || !fake::inside(from)) return FALSE;
    DWORD n = std::min<DWORD>(length, static_cast<DWORD>(fake::cells() - fake::index_of(from)));
    memcpy(attributes, console.attrs.data() + fake::index_of(from), n * sizeof(WORD));
    *read = n;
    return TRUE;
}

BOOL WINAPI WriteConsoleOutputCharacterA(HANDLE h, LPCSTR chars, DWORD length, COORD to, LPDWORD written) {
    fake::record("WriteConsoleOutputCharacterA");
    Guard g(console_mutex);
    *written = 0;
    if (!fake::is_console(h) || !fake::inside(to)) return FALSE;
    DWORD n = std::min<DWORD>(length, static_cast<DWORD>(fake::cells() - fake::index_of(to)));
    memcpy(console.chars.data() + fake::index_of(to), chars, n);
    *written = n;
    return TRUE;
}

BOOL WINAPI WriteConsoleOutputAttribute(HANDLE h, const WORD* attributes, DWORD length, COORD to, LPDWORD written) {
    fake::record("WriteConsoleOutputAttribute");
    Guard g(console_mutex);
    *written = 0;
    if (!fake::is_console(h) || !fake::inside(to)) return FALSE;
    DWORD n = std::min<DWORD>(length, static_cast<DWORD>(fake::cells() - fake::index_of(to)));
    memcpy(console.attrs.data() + fake::index_of(to), attributes, n * sizeof(WORD));
    *written = n;
    return TRUE;
}

BOOL WINAPI SetConsoleTitleA(LPCSTR title) {
    fake::record("SetConsoleTitleA");
    Guard g(console_mutex);
    if (!console.present) return FALSE;
    console.title = title;
    return TRUE;
}

BOOL WINAPI GetNumberOfConsoleInputEvents(HANDLE h, LPDWORD count) {
    fake::record("GetNumberOfConsoleInputEvents");
    Guard g(console_mutex);
    if (!fake::is_input(h)) return FALSE;
    *count = static_cast<DWORD>(console.input.size());
    return TRUE;
}

BOOL WINAPI ReadConsoleInputA(HANDLE h, PINPUT_RECORD records, DWORD length, LPDWORD read) {
    fake::record("ReadConsoleInputA");
    Guard g(console_mutex);
    *read = 0;
    // A real console would wait for an event; the fake has nobody to type one.
    if (!fake::is_input(h) || console.input.empty()) return FALSE;
    while (*read < length && !console.input.empty()) {
        records[(*read)++] = console.input.front();
        console.input.pop_front();
    }
    return TRUE;
}

BOOL WINAPI PeekConsoleInputA(HANDLE h, PINPUT_RECORD records, DWORD length, LPDWORD read) {
    fake::record("PeekConsoleInputA");
    Guard g(console_mutex);
    *read = 0;
    if (!fake::is_input(h)) return FALSE;
    for (const INPUT_RECORD& r : console.input) {
        if (*read == length) break;
        records[(*read)++] = r;
    }
    return TRUE;
}

}  // extern "C"
