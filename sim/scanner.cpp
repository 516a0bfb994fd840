// What the simulated scanner answers: the five commands of its set, ERR for
// anything else, and the faults that the options ask for, counted, timed or
// at random.
#include <cmath>
#include <cstdio>
#include <string>

#include "sim.h"

namespace {
const char* model_name(char model) {
    return model == 'A' ? "SR-A10" : model == 'B' ? "SR-B20" : "SR-X99";
}
const int kRates[] = {115200, 57600, 38400, 19200, 9600};
}  // namespace

SimScanner::SimScanner(const SimOptions& o)
    : opt(o), random_state(o.seed ? o.seed : 1), model(o.model), baud(o.baud),
      fault_random(o.random_faults_seed ? o.random_faults_seed : 1) {
    signal = o.course == Course::Walk ? 512 : o.signal_low;
}

bool SimScanner::silent(double now) const {
    if ((fault == Fault::Silent || fault == Fault::RateChange) && now < fault_until) return true;
    return opt.silent_after >= 0 && now >= opt.silent_after && now < opt.silent_after + opt.silent_for;
}

int SimScanner::rate(double now) const {
    if (opt.silent_after >= 0 && opt.rate_after_silence && now >= opt.silent_after + opt.silent_for)
        return opt.rate_after_silence;
    return baud;
}

unsigned SimScanner::random_below(unsigned n) {
    fault_random = fault_random * 1103515245u + 12345u;
    return (fault_random >> 8) % n;
}

void SimScanner::tick(double now) {
    if (opt.random_faults_mean <= 0) return;
    if (fault == Fault::None && next_fault >= 0 && now >= next_fault) start_fault(now);
    if ((fault == Fault::Silent || fault == Fault::RateChange) && now >= fault_until) {
        if (fault == Fault::RateChange) {
            int old = baud;
            while (baud == old) baud = kRates[random_below(5)];
        }
        end_fault(now);
    }
}

void SimScanner::start_fault(double now) {
    static const Fault kinds[] = {Fault::Silent,     Fault::RateChange, Fault::Garble,    Fault::Overlong,
                                  Fault::InfoDiffer, Fault::SwapModel,  Fault::LineFeeds, Fault::Drop};
    fault = kinds[random_below(8)];
    next_fault = -1;
    ++faults;
    char note[96];
    switch (fault) {
        case Fault::Silent:
        case Fault::RateChange: {
            double span = 1 + random_below(3000) / 1000.0;
            fault_until = now + span;
            snprintf(note, sizeof note, "fault %d: silent for %.1f s%s", faults, span,
                     fault == Fault::RateChange ? ", then at another rate" : "");
            break;
        }
        case Fault::SwapModel:
            model = model == 'A' ? 'B' : 'A';
            snprintf(note, sizeof note, "fault %d: now model %c", faults, model);
            break;
        default: {
            static const char* const names[] = {"", "", "", "garbled replies", "over-long replies",
                                                "info replies that differ", "", "line feeds inside replies",
                                                "unanswered commands"};
            fault_left = 1 + static_cast<int>(random_below(fault == Fault::LineFeeds ? 10 : 3));
            snprintf(note, sizeof note, "fault %d: %d %s", faults, fault_left, names[static_cast<int>(fault)]);
            break;
        }
    }
    sim_log("==", "", note);
    if (fault == Fault::SwapModel) end_fault(now);
}

void SimScanner::end_fault(double now) {
    fault = Fault::None;
    fault_ended = now;
    char note[96];
    snprintf(note, sizeof note, "fault %d over, at %d baud", faults, baud);
    sim_log("==", "", note);
}

bool SimScanner::answer(const std::string& command, double now, std::string* reply) {
    if (command.empty()) return false;  // a carriage return alone is no command
    ++commands;
    if (opt.drop_every && commands % opt.drop_every == 0) return false;
    if (fault == Fault::Drop) {
        if (--fault_left == 0) end_fault(now);
        return false;
    }

    char shown = model;
    if (opt.switch_model_after >= 0 && now >= opt.switch_model_after) shown = shown == 'A' ? 'B' : 'A';
    Fault applied = fault;
    char text[256];
    if (command == "IDN") {
        snprintf(text, sizeof text, "IDN,%s", model_name(shown));
    } else if (command == "VER") {
        ++infos;
        bool differ = (opt.info_differ_every && infos % opt.info_differ_every == 0) || fault == Fault::InfoDiffer;
        snprintf(text, sizeof text, "VER,%s%s", opt.firmware.c_str(), differ ? (infos % 2 ? "-b" : "-c") : "");
    } else if (command == "LVL") {
        int level = opt.level >= 0 ? opt.level : shown == 'B' ? 628 : 128;
        snprintf(text, sizeof text, "LVL,%d", level);
    } else if (command == "TUN") {
        int tuning = opt.tuning;
        if (opt.tuning_drift) {
            tuning += static_cast<int>(std::lround(40 * std::sin(2 * M_PI * now / 20)));
            tuning = tuning < 0 ? 0 : tuning > 200 ? 200 : tuning;
        }
        snprintf(text, sizeof text, "TUN,%d,%lld", tuning, opt.frequency);
    } else if (command == "SIG") {
        snprintf(text, sizeof text, "SIG,%d", signal);
        switch (opt.course) {
            case Course::Fixed: break;
            case Course::Sweep:
                signal += sweep_dir * opt.signal_step;
                if (signal >= opt.signal_high) signal = opt.signal_high, sweep_dir = -1;
                if (signal <= opt.signal_low) signal = opt.signal_low, sweep_dir = 1;
                break;
            case Course::Walk:
                random_state = random_state * 1103515245u + 12345u;
                signal += static_cast<int>((random_state >> 16) % 65) - 32;
                if (signal < 0) signal = 0;
                if (signal > 1023) signal = 1023;
                break;
        }
    } else {
        snprintf(text, sizeof text, "ERR");
    }
    *reply = text;
    if ((opt.overlong_every && commands % opt.overlong_every == 0) || fault == Fault::Overlong)
        *reply = std::string(200, 'Z');
    // Garbling keeps the length and the line end: the monitor sees a wrong
    // reply, not a missing one.
    if ((opt.garble_every && commands % opt.garble_every == 0) || fault == Fault::Garble) {
        for (size_t i = 0; i < reply->size(); i += 2) {
            random_state = random_state * 1103515245u + 12345u;
            (*reply)[i] = static_cast<char>(0x80 | ((random_state >> 16) & 0x7F));
        }
    }
    if (fault == Fault::LineFeeds) reply->insert(1 + random_below(static_cast<unsigned>(reply->size())), "\n");
    *reply += opt.crlf ? "\r\n" : "\r";

    // A counted episode ends with the last reply it spoils (info replies
    // count only for their own fault).
    bool counted = applied == Fault::Garble || applied == Fault::Overlong || applied == Fault::LineFeeds ||
                   (applied == Fault::InfoDiffer && command == "VER");
    if (counted && --fault_left == 0) end_fault(now);

    // A whole pass read again: the monitor has found us.
    if (opt.random_faults_mean > 0 && applied == Fault::None && command == "SIG" && next_fault < 0) {
        char note[96];
        if (faults == 0) snprintf(note, sizeof note, "found after %.1f s", now);
        else snprintf(note, sizeof note, "found again %.1f s after fault %d", now - fault_ended, faults);
        sim_log("==", "", note);
        if (faults > 0) ++recoveries;
        next_fault = now + opt.random_faults_mean * (0.25 + random_below(1500) / 1000.0);
    }
    return true;
}
