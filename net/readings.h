// The latest readings, published by the monitor's main thread for the
// network servers (--serve, --rigctl), which run on threads of their own.
// A server takes a copy under a short lock and never calls into the
// monitor, so that nothing a client does can make a pass wait. Without a
// server nothing is published: readings_publish returns at once.
#pragma once

#include <cstdint>

enum ReadingsState : int32_t { kSearching, kAnswering, kLost, kWaiting };

struct Readings {
    uint64_t seq = 0;      // rises with every publication: each pass and each event
    char time[40] = {};    // when it was published, as the log writes times
    int32_t state = kSearching;
    char port[256] = {};   // the port as the texts name it
    int32_t baud = 0;      // 0: not known
    char model[128] = {};  // empty: not known
    // The readings of the latest pass of this answering spell; false
    // while searching, lost or waiting, and until the first pass.
    bool have_pass = false;
    int64_t frequency_hz = 0;
    int32_t level = 0, tuning = 0, signal = 0;
    int32_t peak = -1;     // as --peak holds and lets it fall; -1: none
    int32_t pitch_hz = 0;  // the tone's pitch for this signal; 0: silence
    uint64_t passes = 0, lost = 0, reconnects = 0;
};

// The main thread edits the draft, then publishes it whole.
extern Readings readings_draft;
// Turned on once a server runs; until then publishing costs nothing.
void readings_enable();
bool readings_enabled();
// Stamps the draft with the next seq and makes it the latest; the caller
// has set its time.
void readings_publish();

// Any thread: a copy of the latest publication.
Readings readings_latest();
// Any thread: waits until a publication newer than `seq` or until
// `timeout_ms` passes, then returns the latest (whose seq tells which).
Readings readings_wait(uint64_t seq, int32_t timeout_ms);
