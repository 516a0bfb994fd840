// The far end of a benchmark's pseudo-terminal: a thread drains it and
// counts the bytes, so that a benchmark sees how much reached the terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <unistd.h>

namespace bench {

inline std::atomic<int64_t> received{0};

inline void drain(int master) {
    char buf[65536];
    for (;;) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) received += n;
        else if (n < 0) break;
    }
}

// Waits until the terminal has had everything, and returns the count.
inline int64_t settled() {
    int64_t last = -1;
    while (received.load() != last) {
        last = received.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return last;
}

}  // namespace bench
