// What the polling cycle tells the alignment aids, handed to each one.
#include "app/aids.h"

#include "app/monitor.h"
#include "app/options.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"
#include "serial/clock.h"

namespace {
// The aids' own view of the line: the monitor's flag stays set once the
// scanner has answered, and the events need each change once.
int16_t answering = 0;
char model_seen[128];
}  // namespace

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
    } else if (txt_compare(model, model_seen) != 0) {
        log_event(model, T("model changed"));
    }
    txt_copy_n(model_seen, model, 127);
}

void aids_pass(const char* model, int32_t level, int32_t tuning, int32_t frequency, int32_t signal) {
    int64_t now = ms_now();
    if (options.peak) {
        peak_update(signal, now);
        peak_draw();
    }
    if (options.history) {
        history_advance(now);
        history_note(signal);
    }
    log_pass(model, level, tuning, frequency, signal);
}

void aids_lost() {
    if (!answering) return;
    answering = 0;
    log_event("", T("communication lost"));
    peak_clear();
}
