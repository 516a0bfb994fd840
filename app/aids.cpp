// What the polling cycle tells the alignment aids, handed to each one.
#include "app/aids.h"

#include "app/monitor.h"
#include "app/options.h"
#include "net/readings.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"
#include "serial/clock.h"

namespace {
// The aids' own view of the line: the monitor's flag stays set once the
// scanner has answered, and the events need each change once.
int16_t answering = 0;
char model_seen[128];

// The servers' copy: one publication per event and per pass.
void publish() {
    if (!readings_enabled()) return;
    log_time(readings_draft.time);
    readings_publish();
}

void publish_state(int32_t state) {
    port_label(readings_draft.port);
    readings_draft.state = state;
    readings_draft.have_pass = false;
    readings_draft.baud = state == kAnswering ? mon.current_baud : 0;
    // A lost scanner clears the peak, as on the screen.
    readings_draft.peak = peak.value;
    publish();
}
}  // namespace

void aids_searching() { publish_state(kSearching); }

void aids_waiting() {
    peak_clear();
    publish_state(kWaiting);
}

void aids_back() {
    ++readings_draft.reconnects;
    publish_state(kSearching);
}

void aids_tick() {
    if (options.history) history_advance(ms_now());
    log_tick();
}

void aids_found(const char* model) {
    char event[64];
    if (!answering) {
        answering = 1;
        fmt_format(event, T("found at %i baud"), mon.current_baud);
        log_event(model, event);
        txt_copy_n(readings_draft.model, model, 127);
        publish_state(kAnswering);
    } else if (txt_compare(model, model_seen) != 0) {
        log_event(model, T("model changed"));
        txt_copy_n(readings_draft.model, model, 127);
        publish();
    }
    txt_copy_n(model_seen, model, 127);
}

void aids_pass(const char* model, int32_t level, int32_t tuning, int32_t frequency, int32_t signal) {
    int64_t now = ms_now();
    // The servers show the peak whether or not the screen does.
    if (options.peak || readings_enabled()) peak_update(signal, now);
    if (options.peak) peak_draw();
    if (options.history) {
        history_advance(now);
        history_note(signal);
    }
    log_pass(model, level, tuning, frequency, signal);
    if (!readings_enabled()) return;
    Readings& r = readings_draft;
    r.have_pass = true;
    r.baud = mon.current_baud;
    // The scanner reports the frequency in hundreds of hertz.
    r.frequency_hz = int64_t(frequency) * 100;
    r.level = level, r.tuning = tuning, r.signal = signal;
    r.peak = peak.value;
    r.pitch_hz = signal >= 0 && signal <= 1023 ? mon.pitch_table[signal] : 0;
    ++r.passes;
    publish();
}

void aids_lost() {
    if (!answering) return;
    answering = 0;
    log_event("", T("communication lost"));
    peak_clear();
    ++readings_draft.lost;
    publish_state(kLost);
}
