// What the simulated scanner answers: the five commands of its set, ERR for
// anything else, and the faults that the options ask for.
#include <cmath>
#include <cstdio>

#include "sim.h"

namespace {
const char* model_name(char model) {
    return model == 'A' ? "SR-A10" : model == 'B' ? "SR-B20" : "SR-X99";
}
}  // namespace

SimScanner::SimScanner(const SimOptions& o) : opt(o), random_state(o.seed ? o.seed : 1) {
    signal = o.course == Course::Walk ? 512 : o.signal_low;
}

bool SimScanner::silent(double now) const {
    return opt.silent_after >= 0 && now >= opt.silent_after && now < opt.silent_after + opt.silent_for;
}

int SimScanner::rate(double now) const {
    if (opt.silent_after >= 0 && opt.rate_after_silence && now >= opt.silent_after + opt.silent_for)
        return opt.rate_after_silence;
    return opt.baud;
}

bool SimScanner::answer(const std::string& command, double now, std::string* reply) {
    if (command.empty()) return false;  // a carriage return alone is no command
    ++commands;
    if (opt.drop_every && commands % opt.drop_every == 0) return false;

    char model = opt.model;
    if (opt.switch_model_after >= 0 && now >= opt.switch_model_after) model = model == 'A' ? 'B' : 'A';
    char text[256];
    if (command == "IDN") {
        snprintf(text, sizeof text, "IDN,%s", model_name(model));
    } else if (command == "VER") {
        ++infos;
        bool differ = opt.info_differ_every && infos % opt.info_differ_every == 0;
        snprintf(text, sizeof text, "VER,%s%s", opt.firmware.c_str(), differ ? "-b" : "");
    } else if (command == "LVL") {
        int level = opt.level >= 0 ? opt.level : model == 'B' ? 628 : 128;
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
    if (opt.overlong_every && commands % opt.overlong_every == 0) *reply = std::string(200, 'Z');
    // Garbling keeps the length and the line end: the monitor sees a wrong
    // reply, not a missing one.
    if (opt.garble_every && commands % opt.garble_every == 0) {
        for (size_t i = 0; i < reply->size(); i += 2) {
            random_state = random_state * 1103515245u + 12345u;
            (*reply)[i] = static_cast<char>(0x80 | ((random_state >> 16) & 0x7F));
        }
    }
    *reply += opt.crlf ? "\r\n" : "\r";
    return true;
}
