// Console output over a terminal: CONOUT$, the screen buffer's information,
// sizes and window, cursor, attribute, title, and the cell reads and writes.
//
// Map: the emulated screen buffer; showing it (full screen on or off, a
// repaint, the loop that sends changed cells); the Win32 calls.
//
// Limits of the emulation:
// - A terminal cannot be read back. The buffer starts as blanks in colour 7
//   at the terminal's size, and the user's own screen is kept instead by the
//   terminal's alternate screen, which shows the buffer from the moment it
//   differs from its first state until it is that state again (as after a
//   restore of everything read at the start) or the program ends.
// - The buffer is drawn at the terminal's top-left, its window's cells only,
//   cut to the terminal's size; the terminal's size is the largest window.
// - Text written with WriteFile goes straight to the terminal, not through
//   the buffer; while the full screen shows it is held and written after it.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "platform/posix/console_term.h"
#include "platform/posix/handle.h"

namespace posix {

namespace {

struct Cell {
    char ch = ' ';
    WORD attr = 7;
    bool operator==(const Cell&) const = default;
};

struct Buffer {
    COORD size{};
    SMALL_RECT window{};
    COORD cursor{};
    WORD text_attribute = 7;
    CONSOLE_CURSOR_INFO cursor_info{25, TRUE};
    std::vector<Cell> cells;
    Cell& at(int x, int y) { return cells[static_cast<size_t>(y) * size.X + x]; }
};

struct ConsoleOutput : HandleObject {
    ConsoleOutput() { fd = 1; }
    BOOL close() override { return TRUE; }  // standard output stays open
};

std::mutex mutex;
bool started = false;
Buffer buffer, first;  // now, and as it was when the program first looked
bool full = false;     // the alternate screen shows the buffer
int term_rows = 24, term_cols = 80;
WORD drawn_attr = 0xFFFF;  // the terminal's present colours, 0xFFFF unknown

bool same_screen(const Buffer& a, const Buffer& b) {
    return a.size.X == b.size.X && a.size.Y == b.size.Y && a.window.Left == b.window.Left &&
           a.window.Top == b.window.Top && a.window.Right == b.window.Right && a.window.Bottom == b.window.Bottom &&
           a.cells == b.cells;
}

void start() {
    if (started) return;
    started = true;
    term::terminal_size(&term_rows, &term_cols);
    SHORT cols = static_cast<SHORT>(std::min(term_cols, 32767)), rows = static_cast<SHORT>(std::min(term_rows, 32767));
    buffer.size = {cols, rows};
    buffer.window = {0, 0, static_cast<SHORT>(cols - 1), static_cast<SHORT>(rows - 1)};
    buffer.cursor = {0, static_cast<SHORT>(rows - 1)};
    buffer.cells.assign(static_cast<size_t>(cols) * rows, Cell{});
    first = buffer;
}

// Appends one cell's colours and glyph to out.
void paint(std::string& out, const Cell& c) {
    if (c.attr != drawn_attr) {
        out += term::colour_change(drawn_attr, c.attr);
        drawn_attr = c.attr;
    }
    out += term::glyph(static_cast<unsigned char>(c.ch));
}

// Where a buffer cell shows on the terminal, if it does.
bool on_terminal(int x, int y, int* row, int* col) {
    *row = y - buffer.window.Top;
    *col = x - buffer.window.Left;
    return x <= buffer.window.Right && y <= buffer.window.Bottom && *row >= 0 && *col >= 0 && *row < term_rows &&
           *col < term_cols;
}

int cursor_shown = -1;  // as the terminal shows it: 0, 1, or -1 unknown

void place_cursor(std::string& out) {
    int row, col;
    bool visible = buffer.cursor_info.bVisible && on_terminal(buffer.cursor.X, buffer.cursor.Y, &row, &col);
    if (visible) out += term::move_to(row, col);
    if (cursor_shown != int(visible)) out += visible ? term::caps().show_cursor : term::caps().hide_cursor;
    cursor_shown = visible;
}

void repaint(std::string& out) {
    drawn_attr = 0xFFFF;
    cursor_shown = -1;
    out += term::caps().reset_attributes + term::caps().clear;
    for (int y = buffer.window.Top; y <= buffer.window.Bottom; ++y) {
        int row, col;
        if (!on_terminal(buffer.window.Left, y, &row, &col)) continue;
        out += term::move_to(row, col);
        for (int x = buffer.window.Left; x <= buffer.window.Right && on_terminal(x, y, &row, &col); ++x)
            paint(out, buffer.at(x, y));
    }
    place_cursor(out);
}

// Brings the terminal in line after a change: into or out of the full
// screen, or a repaint of everything when `all` is set.
void show(bool all) {
    if (term::take_resize()) {
        term::terminal_size(&term_rows, &term_cols);
        all = true;
    }
    bool want = !same_screen(buffer, first);
    std::string out;
    if (want && !full) {
        full = true;
        term::set_full_screen(true);
        out += term::caps().enter_screen;
        repaint(out);
    } else if (!want && full) {
        full = false;
        out += term::caps().reset_attributes + term::caps().clear + term::caps().leave_screen;
        if (buffer.cursor_info.bVisible) out += term::caps().show_cursor;
        cursor_shown = -1;
        term::put(out);
        term::set_full_screen(false);
        return;
    } else if (full && all) {
        repaint(out);
    }
    term::put(out);
}

// Sends the cells that a write changed. The run starts where the cursor is
// placed once; unchanged cells between changes are skipped with a new
// placement only when that is shorter than drawing them again.
void send_cells(int from, const std::vector<Cell>& before, int count) {
    if (!full) return show(false);
    std::string out;
    int next_row = -1, next_col = -1;
    for (int i = 0; i < count; ++i) {
        int index = from + i;
        int x = index % buffer.size.X, y = index / buffer.size.X;
        const Cell& c = buffer.cells[static_cast<size_t>(index)];
        if (c == before[static_cast<size_t>(i)]) continue;
        int row, col;
        if (!on_terminal(x, y, &row, &col)) continue;
        if (row != next_row || col != next_col) {
            // A short gap of unchanged cells in the same colours is cheaper
            // to draw again than to jump over.
            std::string jump = term::move_to(row, col);
            std::string gap;
            bool fill = row == next_row && col > next_col;
            for (int k = index - (col - next_col); fill && k < index; ++k) {
                const Cell& g = buffer.cells[static_cast<size_t>(k)];
                fill = g.attr == drawn_attr && gap.size() < jump.size();
                gap += term::glyph(static_cast<unsigned char>(g.ch));
            }
            out += fill && gap.size() < jump.size() ? gap : jump;
        }
        paint(out, c);
        next_row = row;
        next_col = col + 1;
    }
    if (!out.empty()) {
        place_cursor(out);
        term::put(out);
    }
    if (!same_screen(buffer, first)) return;
    show(false);  // the buffer is back as it was: give the screen back
}

// The console behind a handle, or null with the error set.
bool is_console(HANDLE h) {
    HandleObject* o = object_of(h);
    if (o == nullptr) return false;
    if (dynamic_cast<ConsoleOutput*>(o) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    start();
    return true;
}

bool inside(COORD c) { return c.X >= 0 && c.Y >= 0 && c.X < buffer.size.X && c.Y < buffer.size.Y; }

}  // namespace

HandleObject* open_console_output(DWORD) {
    if (!term::output_ready()) {
        set_error_with_text(ERROR_INVALID_HANDLE, term::output_refusal());
        return nullptr;
    }
    return new ConsoleOutput;
}

std::atomic<int64_t> term::console_write_calls{0};

bool console_holds_output(int fd, const void* data, DWORD count, DWORD* kept) {
    size_t n = 0;
    if (!term::hold_output(fd, data, count, &n)) return false;
    *kept = static_cast<DWORD>(n);
    return true;
}

bool console_bell() {
    if (!term::output_ready() || term::caps().bell_text.empty()) return false;
    std::lock_guard<std::mutex> g(mutex);
    term::put(term::caps().bell_text);
    return true;
}

void term::repaint_if_resized() {
    std::lock_guard<std::mutex> g(mutex);
    if (!started || !take_resize()) return;
    terminal_size(&term_rows, &term_cols);
    show(true);
}

// Both console writes: change up to `length` cells from `to` on, then send
// the terminal what differs (or everything, after a resize).
template <typename Change>
BOOL write_cells(HANDLE h, DWORD length, COORD to, LPDWORD written, Change change) {
    std::lock_guard<std::mutex> g(mutex);
    ++term::console_write_calls;
    *written = 0;
    if (!is_console(h)) return FALSE;
    if (!inside(to)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int start = to.Y * buffer.size.X + to.X;
    int n = static_cast<int>(std::min<size_t>(length, buffer.cells.size() - static_cast<size_t>(start)));
    std::vector<Cell> before(buffer.cells.begin() + start, buffer.cells.begin() + start + n);
    for (int i = 0; i < n; ++i) change(buffer.cells[static_cast<size_t>(start + i)], i);
    if (term::take_resize()) {
        term::terminal_size(&term_rows, &term_cols);
        show(true);
    } else {
        send_cells(start, before, n);
    }
    *written = static_cast<DWORD>(n);
    return TRUE;
}

}  // namespace posix

using posix::buffer;
using Guard = std::lock_guard<std::mutex>;

extern "C" {

BOOL WINAPI GetConsoleScreenBufferInfo(HANDLE h, PCONSOLE_SCREEN_BUFFER_INFO info) {
    Guard g(posix::mutex);
    if (!posix::is_console(h)) return FALSE;
    info->dwSize = buffer.size;
    info->dwCursorPosition = buffer.cursor;
    info->wAttributes = buffer.text_attribute;
    info->srWindow = buffer.window;
    info->dwMaximumWindowSize = {static_cast<SHORT>(std::min<int>(buffer.size.X, posix::term_cols)),
                                 static_cast<SHORT>(std::min<int>(buffer.size.Y, posix::term_rows))};
    return TRUE;
}

BOOL WINAPI GetConsoleCursorInfo(HANDLE h, PCONSOLE_CURSOR_INFO info) {
    Guard g(posix::mutex);
    if (!posix::is_console(h)) return FALSE;
    *info = buffer.cursor_info;
    return TRUE;
}

// A terminal's cursor has no size: any size shows its own cursor.
BOOL WINAPI SetConsoleCursorInfo(HANDLE h, const CONSOLE_CURSOR_INFO* info) {
    Guard g(posix::mutex);
    if (!posix::is_console(h)) return FALSE;
    if (info->dwSize < 1 || info->dwSize > 100) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    buffer.cursor_info = *info;
    posix::term::set_cursor_hidden(!info->bVisible);
    std::string out;
    // Outside the full screen the buffer's positions mean nothing on the
    // user's terminal: only the cursor's visibility is the console's.
    if (posix::full) posix::place_cursor(out);
    else out = info->bVisible ? posix::term::caps().show_cursor : posix::term::caps().hide_cursor;
    posix::term::put(out);
    return TRUE;
}

BOOL WINAPI SetConsoleCursorPosition(HANDLE h, COORD position) {
    Guard g(posix::mutex);
    if (!posix::is_console(h)) return FALSE;
    if (!posix::inside(position)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    buffer.cursor = position;
    if (posix::full) {
        std::string out;
        posix::place_cursor(out);
        posix::term::put(out);
    }
    return TRUE;
}

BOOL WINAPI SetConsoleTextAttribute(HANDLE h, WORD attributes) {
    Guard g(posix::mutex);
    if (!posix::is_console(h)) return FALSE;
    buffer.text_attribute = attributes;
    return TRUE;
}

COORD WINAPI GetLargestConsoleWindowSize(HANDLE h) {
    Guard g(posix::mutex);
    if (!posix::is_console(h)) return COORD{0, 0};
    if (posix::term::take_resize()) {
        posix::term::terminal_size(&posix::term_rows, &posix::term_cols);
        posix::show(true);
    }
    return COORD{static_cast<SHORT>(std::min(posix::term_cols, 32767)),
                 static_cast<SHORT>(std::min(posix::term_rows, 32767))};
}

BOOL WINAPI SetConsoleScreenBufferSize(HANDLE h, COORD size) {
    Guard g(posix::mutex);
    if (!posix::is_console(h)) return FALSE;
    // As on Windows: the window must stay whole inside the buffer, so that no
    // repaint reads past the cells. The cap on the whole keeps a mistaken
    // request from taking gigabytes.
    if (size.X <= buffer.window.Right || size.Y <= buffer.window.Bottom ||
        int64_t(size.X) * size.Y > 16 * 1024 * 1024) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<posix::Cell> cells(static_cast<size_t>(size.X) * size.Y);
    for (int y = 0; y < std::min(size.Y, buffer.size.Y); ++y)
        for (int x = 0; x < std::min(size.X, buffer.size.X); ++x)
            cells[static_cast<size_t>(y) * size.X + x] = buffer.at(x, y);
    buffer.size = size;
    buffer.cells.swap(cells);
    buffer.cursor.X = std::min<SHORT>(buffer.cursor.X, static_cast<SHORT>(size.X - 1));
    buffer.cursor.Y = std::min<SHORT>(buffer.cursor.Y, static_cast<SHORT>(size.Y - 1));
    posix::show(true);
    return TRUE;
}

BOOL WINAPI SetConsoleWindowInfo(HANDLE h, BOOL absolute, const SMALL_RECT* window) {
    Guard g(posix::mutex);
    if (!posix::is_console(h)) return FALSE;
    SMALL_RECT w = *window;
    if (!absolute) {
        w.Left = static_cast<SHORT>(w.Left + buffer.window.Left);
        w.Top = static_cast<SHORT>(w.Top + buffer.window.Top);
        w.Right = static_cast<SHORT>(w.Right + buffer.window.Right);
        w.Bottom = static_cast<SHORT>(w.Bottom + buffer.window.Bottom);
    }
    if (w.Left < 0 || w.Top < 0 || w.Right < w.Left || w.Bottom < w.Top || w.Right >= buffer.size.X ||
        w.Bottom >= buffer.size.Y || w.Right - w.Left >= posix::term_cols || w.Bottom - w.Top >= posix::term_rows) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    buffer.window = w;
    posix::show(true);
    return TRUE;
}

BOOL WINAPI ReadConsoleOutputCharacterA(HANDLE h, LPSTR chars, DWORD length, COORD from, LPDWORD read) {
    Guard g(posix::mutex);
    *read = 0;
    if (!posix::is_console(h)) return FALSE;
    if (!posix::inside(from)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t start = static_cast<size_t>(from.Y) * buffer.size.X + from.X;
    DWORD n = static_cast<DWORD>(std::min<size_t>(length, buffer.cells.size() - start));
    for (DWORD i = 0; i < n; ++i) chars[i] = buffer.cells[start + i].ch;
    *read = n;
    return TRUE;
}

BOOL WINAPI ReadConsoleOutputAttribute(HANDLE h, WORD* attributes, DWORD length, COORD from, LPDWORD read) {
    Guard g(posix::mutex);
    *read = 0;
    if (!posix::is_console(h)) return FALSE;
    if (!posix::inside(from)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t start = static_cast<size_t>(from.Y) * buffer.size.X + from.X;
    DWORD n = static_cast<DWORD>(std::min<size_t>(length, buffer.cells.size() - start));
    // The caller's array need not be aligned for WORDs.
    for (DWORD i = 0; i < n; ++i) memcpy(reinterpret_cast<char*>(attributes) + 2 * i, &buffer.cells[start + i].attr, 2);
    *read = n;
    return TRUE;
}

BOOL WINAPI WriteConsoleOutputCharacterA(HANDLE h, LPCSTR chars, DWORD length, COORD to, LPDWORD written) {
    return posix::write_cells(h, length, to, written, [chars](posix::Cell& cell, int i) { cell.ch = chars[i]; });
}

BOOL WINAPI WriteConsoleOutputAttribute(HANDLE h, const WORD* attributes, DWORD length, COORD to, LPDWORD written) {
    return posix::write_cells(h, length, to, written, [attributes](posix::Cell& cell, int i) {
        // The caller's array need not be aligned for WORDs.
        memcpy(&cell.attr, reinterpret_cast<const char*>(attributes) + 2 * i, 2);
    });
}

BOOL WINAPI SetConsoleTitleA(LPCSTR title) {
    Guard g(posix::mutex);
    if (!posix::term::output_ready()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::string out;
    // The user's title goes onto xterm's title stack once, to be taken back
    // when the program ends; terminals without the stack ignore both.
    static bool pushed = false;
    if (!pushed) {
        pushed = true;
        out += "\033[22;0t";
        posix::term::set_title_pushed();
    }
    out += posix::term::caps().title_start;
    // Control characters would end the sequence early.
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(title); *p; ++p)
        out += *p < 32 ? std::string(" ") : posix::term::glyph(*p);
    out += posix::term::caps().title_end;
    posix::term::put(out);
    return TRUE;
}

}  // extern "C"
