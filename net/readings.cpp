// The readings' one shared copy: a mutex held only for a copy of the record,
// and a condition that wakes the servers' waiting threads.
#include "net/readings.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

Readings readings_draft;

namespace {
std::mutex guard;
std::condition_variable published;
Readings latest;
bool enabled = false;  // set before any server thread starts
}  // namespace

void readings_enable() { enabled = true; }
bool readings_enabled() { return enabled; }

void readings_publish() {
    ++readings_draft.seq;
    {
        std::lock_guard<std::mutex> hold(guard);
        latest = readings_draft;
    }
    published.notify_all();
}

Readings readings_latest() {
    std::lock_guard<std::mutex> hold(guard);
    return latest;
}

Readings readings_wait(uint64_t seq, int32_t timeout_ms) {
    std::unique_lock<std::mutex> hold(guard);
    published.wait_for(hold, std::chrono::milliseconds(timeout_ms), [seq] { return latest.seq > seq; });
    return latest;
}
