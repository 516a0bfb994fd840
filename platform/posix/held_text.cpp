// Held text: a chain of 64 KiB pieces, filled in order under a lock and read
// without one. Pieces are never freed, so that a give-back in a signal
// handler can always walk them; what is written out is only passed over.
#include "platform/posix/held_text.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <unistd.h>

namespace posix::term {

namespace {
constexpr size_t kPiece = 65536;
constexpr size_t kLimit = 16 << 20;    // beyond this a write comes back short
constexpr size_t kReserve = 65536;     // room kept for the report of it

struct Piece {
    std::atomic<Piece*> next{nullptr};
    std::atomic<size_t> used{0};  // bytes filled; a piece gets a next only when full
    char bytes[kPiece];
};

Piece first;  // the usual few messages need no allocation
std::mutex keep_lock;
Piece* last = &first;  // under keep_lock
size_t kept = 0;       // under keep_lock
bool refused = false;  // under keep_lock

std::atomic_flag writing = ATOMIC_FLAG_INIT;
Piece* out_piece = &first;  // what held_write_out has written, under `writing`
size_t out_used = 0;
}  // namespace

void write_all(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        p += w;
        n -= static_cast<size_t>(w);
    }
}

size_t held_keep(const void* data, size_t count) {
    std::lock_guard<std::mutex> g(keep_lock);
    size_t limit = refused ? kLimit + kReserve : kLimit;
    size_t want = count < limit - kept ? count : limit - kept;
    auto* from = static_cast<const char*>(data);
    size_t done = 0;
    while (done < want) {
        size_t used = last->used.load(std::memory_order_relaxed);
        if (used == kPiece) {
            Piece* next = new (std::nothrow) Piece;
            if (next == nullptr) break;
            last->next.store(next, std::memory_order_release);
            last = next;
            continue;
        }
        size_t n = want - done < kPiece - used ? want - done : kPiece - used;
        memcpy(last->bytes + used, from + done, n);
        last->used.store(used + n, std::memory_order_release);
        done += n;
    }
    kept += done;
    refused |= done < count;
    return done;
}

void held_write_out(int fd) {
    if (writing.test_and_set(std::memory_order_acquire)) return;
    for (;;) {
        size_t used = out_piece->used.load(std::memory_order_acquire);
        write_all(fd, out_piece->bytes + out_used, used - out_used);
        out_used = used;
        Piece* next = out_piece->next.load(std::memory_order_acquire);
        if (used < kPiece || next == nullptr) break;
        out_piece = next;
        out_used = 0;
    }
    writing.clear(std::memory_order_release);
}

}  // namespace posix::term
