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

extern HANDLE std_handles[3];

namespace {
// The fake's reset runs while static objects are still being built, so the
// console is built on first use rather than in the order of the files.
Console& state() {
    static Console c;
    return c;
}
// The blink thread draws while the main thread does; the real console
// serialises its calls, and so does this one.
std::recursive_mutex console_mutex;
using Guard = std::lock_guard<std::recursive_mutex>;

// How many cells from `at` a run of `length` may touch, or -1 when the
// handle is no console or `at` lies outside the buffer.
int64_t run_length(HANDLE h, COORD at, DWORD length) {
    if (h != console_output || at.X < 0 || at.Y < 0 || at.X >= state().size.X || at.Y >= state().size.Y) return -1;
    return std::min<int64_t>(length, state().size.X * state().size.Y - (at.Y * state().size.X + at.X));
}
// Records the call and runs `f` under the lock if `h` is the console.
template <typename F>
BOOL on_console(const char* name, HANDLE h, F f) {
    record(name);
    Guard g(console_mutex);
    return h == console_output && f();
}
// Standard input reads the console's input queue.
HANDLE input_of(HANDLE h) { return h == std_handles[0] ? console_output : nullptr; }
// Copies up to `length` queued input records, taking them off the queue or not.
BOOL read_input(const char* name, HANDLE h, PINPUT_RECORD records, DWORD length, LPDWORD read, bool take) {
    *read = 0;
    return on_console(name, input_of(h), [&] {
        std::deque<INPUT_RECORD>& queue = state().input;
        for (auto it = queue.begin(); *read < length && it != queue.end(); ++it) records[(*read)++] = *it;
        if (take) queue.erase(queue.begin(), queue.begin() + *read);
        return true;
    });
}
// Copies a run between the buffer's cells and the caller's.
template <typename T>
BOOL copy_run(const char* name, HANDLE h, std::vector<T>& cells, T* theirs, DWORD length, COORD at, LPDWORD done,
              bool write) {
    record(name);
    Guard g(console_mutex);
    *done = 0;
    int64_t n = run_length(h, at, length);
    if (n < 0) return FALSE;
    T* ours = cells.data() + at.Y * state().size.X + at.X;
    memcpy(write ? ours : theirs, write ? theirs : ours, size_t(n) * sizeof(T));
    *done = static_cast<DWORD>(n);
    return TRUE;
}
}  // namespace

Console& console = state();
HANDLE console_output = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xC0));

void reset_console() {
    Guard g(console_mutex);
    state() = Console{};
    state().largest = {150, 50};
    console_setup(80, 25);
    state().cursor_info = {25, TRUE};
}

void console_setup(SHORT columns, SHORT rows) {
    Guard g(console_mutex);
    Console& c = state();
    c.size = {columns, rows};
    c.window = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
    c.chars.assign(static_cast<size_t>(columns * rows), ' ');
    c.attrs.assign(static_cast<size_t>(columns * rows), 7);
}

std::string console_line(int row) {
    Guard g(console_mutex);
    auto start = console.chars.begin() + row * console.size.X;
    return std::string(start, start + console.size.X);
}

WORD console_attr(int row, int column) {
    Guard g(console_mutex);
    return console.attrs.at(static_cast<size_t>(row * console.size.X + column));
}

void type_key(WORD scan, char ch, DWORD state) {
    Guard g(console_mutex);
    for (BOOL down : {TRUE, FALSE}) {
        INPUT_RECORD r{};
        r.EventType = KEY_EVENT;
        r.Event.KeyEvent = {down, 1, 0, scan, {}, state};
        r.Event.KeyEvent.uChar.AsciiChar = ch;
        console.input.push_back(r);
    }
}

}  // namespace fake

using fake::console;
using fake::console_mutex;
using fake::Guard;

extern "C" {

BOOL WINAPI GetConsoleScreenBufferInfo(HANDLE h, PCONSOLE_SCREEN_BUFFER_INFO info) {
    return fake::on_console(__func__, h, [&] {
        return *info = {console.size, {0, 0}, 7, console.window, console.largest}, true;
    });
}

BOOL WINAPI GetConsoleCursorInfo(HANDLE h, PCONSOLE_CURSOR_INFO info) {
    return fake::on_console(__func__, h, [&] { return *info = console.cursor_info, true; });
}

BOOL WINAPI SetConsoleCursorInfo(HANDLE h, const CONSOLE_CURSOR_INFO* info) {
    return fake::on_console(__func__, h, [&] {
        return info->dwSize >= 1 && info->dwSize <= 100 && (console.cursor_info = *info, true);
    });
}

BOOL WINAPI SetConsoleCursorPosition(HANDLE h, COORD) { return fake::on_console(__func__, h, [] { return true; }); }
BOOL WINAPI SetConsoleTextAttribute(HANDLE h, WORD) { return fake::on_console(__func__, h, [] { return true; }); }
COORD WINAPI GetLargestConsoleWindowSize(HANDLE h) {
    COORD largest{0, 0};
    fake::on_console(__func__, h, [&] { return largest = console.largest, true; });
    return largest;
}

BOOL WINAPI SetConsoleScreenBufferSize(HANDLE h, COORD size) {
    return fake::on_console(__func__, h, [&] {
        const SMALL_RECT& w = console.window;
        if (size.X <= w.Right - w.Left || size.Y <= w.Bottom - w.Top) return false;
        console.size = size;
        console.chars.assign(static_cast<size_t>(size.X * size.Y), '?');
        console.attrs.assign(static_cast<size_t>(size.X * size.Y), 0x99);  // garbage: the screen code clears it
        return true;
    });
}

// Only absolute windows: the screen code asks for no other.
BOOL WINAPI SetConsoleWindowInfo(HANDLE h, BOOL absolute, const SMALL_RECT* window) {
    const SMALL_RECT& w = *window;
    return fake::on_console(__func__, h, [&] {
        return absolute && w.Left >= 0 && w.Top >= 0 && w.Right >= w.Left && w.Bottom >= w.Top &&
               w.Right < console.size.X && w.Bottom < console.size.Y && w.Right - w.Left < console.largest.X &&
               w.Bottom - w.Top < console.largest.Y && (console.window = w, true);
    });
}

BOOL WINAPI ReadConsoleOutputCharacterA(HANDLE h, LPSTR chars, DWORD length, COORD from, LPDWORD read) {
    return fake::copy_run(__func__, h, console.chars, chars, length, from, read, false);
}
BOOL WINAPI ReadConsoleOutputAttribute(HANDLE h, WORD* attributes, DWORD length, COORD from, LPDWORD read) {
    return fake::copy_run(__func__, h, console.attrs, attributes, length, from, read, false);
}
BOOL WINAPI WriteConsoleOutputCharacterA(HANDLE h, LPCSTR chars, DWORD length, COORD to, LPDWORD written) {
    return fake::copy_run(__func__, h, console.chars, const_cast<char*>(chars), length, to, written, true);
}
BOOL WINAPI WriteConsoleOutputAttribute(HANDLE h, const WORD* attributes, DWORD length, COORD to, LPDWORD written) {
    return fake::copy_run(__func__, h, console.attrs, const_cast<WORD*>(attributes), length, to, written, true);
}
BOOL WINAPI SetConsoleTitleA(LPCSTR title) {
    return fake::on_console(__func__, fake::console_output, [&] { return console.title = title, true; });
}
BOOL WINAPI GetNumberOfConsoleInputEvents(HANDLE h, LPDWORD count) {
    return fake::on_console(__func__, fake::input_of(h), [&] { return *count = DWORD(console.input.size()), true; });
}

// A real console would wait for an event; the fake has nobody to type one.
BOOL WINAPI ReadConsoleInputA(HANDLE h, PINPUT_RECORD records, DWORD length, LPDWORD read) {
    return fake::read_input(__func__, h, records, length, read, true) && *read > 0;
}
BOOL WINAPI PeekConsoleInputA(HANDLE h, PINPUT_RECORD records, DWORD length, LPDWORD read) {
    return fake::read_input(__func__, h, records, length, read, false);
}

}  // extern "C"
