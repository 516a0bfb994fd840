// Console input over a terminal: CONIN$, the console modes, and the input
// queue that GetNumberOfConsoleInputEvents, PeekConsoleInputA and
// ReadConsoleInputA see.
//
// Map: the modes; reading the terminal into the queue (raw mode, the ESC
// wait); the Win32 calls.
//
// Limits: keys come from standard input only when it is a terminal; they
// arrive as key-down events alone; with processed input the terminal's
// interrupt key (Ctrl+C) ends the program, as Ctrl+C does on Windows, and
// the terminal's quit and suspend keys do nothing.
#include <cerrno>
#include <deque>
#include <mutex>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix/console_term.h"
#include "platform/posix/handle.h"

namespace posix {

namespace {

// Sequences arrive within a few milliseconds; a key typed by hand after ESC
// takes far longer. 50 ms tells them apart over a slow link too.
constexpr int64_t kEscWaitMs = 50;

using Guard = std::lock_guard<std::mutex>;

struct ConsoleInput : HandleObject {
    ConsoleInput() { fd = 0; }
    BOOL close() override { return TRUE; }  // standard input stays open
};

std::mutex mutex;
DWORD input_mode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_MOUSE_INPUT;
DWORD output_mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
bool raw = false;
bool closed = false;  // the terminal has hung up
std::deque<INPUT_RECORD> queue;
std::string pending;    // bytes of a sequence not yet complete
int64_t pending_since;  // when its last byte came

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

bool is_input(HANDLE h) {
    HandleObject* o = object_of(h);
    if (o == nullptr) return false;
    if (o->fd != 0 || !term::input_ready()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

void decode(bool final) {
    std::vector<INPUT_RECORD> records;
    size_t used = term::decode_keys(reinterpret_cast<const unsigned char*>(pending.data()), pending.size(), final,
                                    term::terminfo_keys(), term::caps().utf8, &records);
    pending.erase(0, used);
    queue.insert(queue.end(), records.begin(), records.end());
}

// Moves what the terminal has into the queue, waiting at most `wait_ms`
// (-1: until something comes) for the first byte.
void pump(int wait_ms) {
    if (!raw) {
        raw = true;
        term::set_raw_input(true, input_mode & ENABLE_PROCESSED_INPUT);
    }
    // A resize is noticed here too, since the program polls keys far more
    // often than it draws.
    term::repaint_if_resized();
    if (!closed) {
        pollfd p = {0, POLLIN, 0};
        int r = poll(&p, 1, wait_ms);
        if (r > 0) {
            char chunk[256];
            ssize_t n = read(0, chunk, sizeof chunk);
            if (n > 0) {
                pending.append(chunk, static_cast<size_t>(n));
                pending_since = now_ms();
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                closed = true;
            }
        }
    }
    if (!pending.empty()) decode(closed || now_ms() - pending_since >= kEscWaitMs);
}

}  // namespace

// Whether ESC waits among the keys not yet read, for the network port's
// waits (net_serial.cpp): they end early on it, so that the program's own
// look at the keys comes round in time. Nothing is taken from the queue, and
// a terminal that the program has not read keys from yet is left alone.
bool esc_waiting() {
    Guard g(mutex);
    if (!raw || !term::input_ready()) return false;
    pump(0);
    if (!pending.empty() && (closed || now_ms() - pending_since >= kEscWaitMs)) decode(true);
    for (const INPUT_RECORD& r : queue)
        if (r.Event.KeyEvent.wVirtualKeyCode == VK_ESCAPE && !(r.Event.KeyEvent.dwControlKeyState & LEFT_ALT_PRESSED))
            return true;
    return false;
}

HandleObject* open_console_input(DWORD) {
    if (!term::input_ready()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return new ConsoleInput;
}

}  // namespace posix

using posix::Guard;

extern "C" {

BOOL WINAPI GetConsoleMode(HANDLE h, LPDWORD mode) {
    posix::HandleObject* o = posix::object_of(h);
    if (o == nullptr || o->fd < 0 || !isatty(o->fd)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Guard g(posix::mutex);
    *mode = o->fd == 0 ? posix::input_mode : posix::output_mode;
    return TRUE;
}

BOOL WINAPI SetConsoleMode(HANDLE h, DWORD mode) {
    posix::HandleObject* o = posix::object_of(h);
    if (o == nullptr || o->fd < 0 || !isatty(o->fd)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Guard g(posix::mutex);
    if (o->fd != 0) {
        posix::output_mode = mode;
        return TRUE;
    }
    posix::input_mode = mode;
    if (posix::raw) posix::term::set_raw_input(true, mode & ENABLE_PROCESSED_INPUT);
    return TRUE;
}

BOOL WINAPI GetNumberOfConsoleInputEvents(HANDLE h, LPDWORD count) {
    if (!posix::is_input(h)) return FALSE;
    Guard g(posix::mutex);
    posix::pump(0);
    // A lone ESC is told from the start of a sequence only by what follows
    // it within the ESC wait. Wait that out here, so that a caller who looks
    // at the keys about once a second (a silent port) sees ESC at this look,
    // not at the next one.
    int64_t until = posix::pending_since + posix::kEscWaitMs;
    while (posix::queue.empty() && !posix::pending.empty() && !posix::closed) {
        int64_t left = until - posix::now_ms();
        if (left <= 0) {
            posix::decode(true);
            break;
        }
        posix::pump(static_cast<int>(left));
    }
    *count = static_cast<DWORD>(posix::queue.size());
    return TRUE;
}

BOOL WINAPI PeekConsoleInputA(HANDLE h, PINPUT_RECORD records, DWORD length, LPDWORD read) {
    *read = 0;
    if (!posix::is_input(h)) return FALSE;
    Guard g(posix::mutex);
    posix::pump(0);
    for (const INPUT_RECORD& r : posix::queue) {
        if (*read == length) break;
        records[(*read)++] = r;
    }
    return TRUE;
}

// Waits for an event, as on Windows, unless the terminal has hung up: then
// no event can come, and the call fails instead of waiting for ever.
BOOL WINAPI ReadConsoleInputA(HANDLE h, PINPUT_RECORD records, DWORD length, LPDWORD read) {
    *read = 0;
    if (!posix::is_input(h)) return FALSE;
    Guard g(posix::mutex);
    while (posix::queue.empty()) {
        if (posix::closed && posix::pending.empty()) {
            SetLastError(ERROR_BROKEN_PIPE);
            return FALSE;
        }
        posix::pump(posix::pending.empty() ? 100 : static_cast<int>(posix::kEscWaitMs));
    }
    while (*read < length && !posix::queue.empty()) {
        records[(*read)++] = posix::queue.front();
        posix::queue.pop_front();
    }
    return TRUE;
}

}  // extern "C"
