// The fake's COM ports: each is a scripted device under the name that
// CreateFileA is given ("COM3"). Bytes from the far end become readable at
// a time of the fake clock, which only Sleep advances; a peer callback sees
// every write and can answer it, so a test plays the scanner.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "tests/fake/fake.h"

namespace fake {

struct SerialDevice {
    struct Arrival {
        int64_t at_ms;
        std::string bytes;
    };
    std::deque<Arrival> arriving;  // not yet in the driver
    std::string queue;             // in the driver, readable now
    std::string received;          // every byte the device accepted
    DWORD accepts = MAXDWORD;      // bytes it still takes before writes time out
    bool status_fails = false;
    DCB state{};  // as the device reports it
    COMMTIMEOUTS timeouts{};
    bool is_open = false;
    std::function<void(SerialDevice&, const std::string&)> peer;  // sees each write

    // Makes bytes readable after a delay on the fake clock (0: at once).
    void send(const std::string& bytes, int64_t after_ms = 0);
};

// The device named COMn, created on first use at 1200 baud 7M1.5 with
// every handshake on.
SerialDevice& com(int n);
int64_t now_ms();

}  // namespace fake
