// The rigctld line protocol as hamlib 4.5's network client (rigctl -m 2) and
// the loggers' raw clients speak it. The scanner is a receiver that reports
// but cannot be set: every set command and every command rxmon has no
// answer for is refused with hamlib's RIG_ENAVAIL, and a reading asked while
// the scanner does not answer with RIG_ETIMEOUT, as rigctld does for a rig
// that is silent. A positive RPRT is never sent: the client takes it for a
// broken protocol.
#include "net/rigctl.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

enum Answer : int8_t { kRefuse, kFreq, kMode, kVfo, kSetVfo, kPtt, kSplit, kLevel, kChkVfo, kDumpState,
                       kPowerstat, kLockMode, kQuit };

// hamlib's commands, so that a command's arguments are not taken for the
// next command on the line: short letter, long name, argument count.
struct Command {
    char letter;  // 0: long name only
    const char* name;
    int8_t arguments;
    Answer answer;
};

constexpr Command kCommands[] = {
    {'F', "set_freq", 1, kRefuse},       {'f', "get_freq", 0, kFreq},
    {'M', "set_mode", 2, kRefuse},       {'m', "get_mode", 0, kMode},
    {'I', "set_split_freq", 1, kRefuse}, {'i', "get_split_freq", 0, kRefuse},
    {'X', "set_split_mode", 2, kRefuse}, {'x', "get_split_mode", 0, kRefuse},
    {'K', "set_split_freq_mode", 3, kRefuse}, {'k', "get_split_freq_mode", 0, kRefuse},
    {'S', "set_split_vfo", 2, kRefuse},  {'s', "get_split_vfo", 0, kSplit},
    {'N', "set_ts", 1, kRefuse},         {'n', "get_ts", 0, kRefuse},
    {'L', "set_level", 2, kRefuse},      {'l', "get_level", 1, kLevel},
    {'U', "set_func", 2, kRefuse},       {'u', "get_func", 1, kRefuse},
    {'P', "set_parm", 2, kRefuse},       {'p', "get_parm", 1, kRefuse},
    {'G', "vfo_op", 1, kRefuse},         {'g', "scan", 2, kRefuse},
    {'A', "set_trn", 1, kRefuse},        {'a', "get_trn", 0, kRefuse},
    {'R', "set_rptr_shift", 1, kRefuse}, {'r', "get_rptr_shift", 0, kRefuse},
    {'O', "set_rptr_offs", 1, kRefuse},  {'o', "get_rptr_offs", 0, kRefuse},
    {'C', "set_ctcss_tone", 1, kRefuse}, {'c', "get_ctcss_tone", 0, kRefuse},
    {'D', "set_dcs_code", 1, kRefuse},   {'d', "get_dcs_code", 0, kRefuse},
    {'V', "set_vfo", 1, kSetVfo},        {'v', "get_vfo", 0, kVfo},
    {'T', "set_ptt", 1, kRefuse},        {'t', "get_ptt", 0, kPtt},
    {'E', "set_mem", 1, kRefuse},        {'e', "get_mem", 0, kRefuse},
    {'H', "set_channel", 1, kRefuse},    {'h', "get_channel", 1, kRefuse},
    {'B', "set_bank", 1, kRefuse},       {'_', "get_info", 0, kRefuse},
    {'J', "set_rit", 1, kRefuse},        {'j', "get_rit", 0, kRefuse},
    {'Z', "set_xit", 1, kRefuse},        {'z', "get_xit", 0, kRefuse},
    {'Y', "set_ant", 2, kRefuse},        {'y', "get_ant", 1, kRefuse},
    {'*', "reset", 1, kRefuse},          {'w', "send_cmd", 1, kRefuse},
    {'b', "send_morse", 1, kRefuse},     {'1', "dump_caps", 0, kRefuse},
    {'3', "dump_conf", 0, kRefuse},      {'2', "power2mW", 3, kRefuse},
    {'4', "mW2power", 3, kRefuse},       {0, "set_powerstat", 1, kRefuse},
    {0, "get_powerstat", 0, kPowerstat}, {0, "set_lock_mode", 1, kRefuse},
    {0, "get_lock_mode", 0, kLockMode},  {0, "get_dcd", 0, kRefuse},
    {0, "dump_state", 0, kDumpState},    {0, "chk_vfo", 0, kChkVfo},
    {'q', "quit", 0, kQuit},             {'Q', "quit", 0, kQuit},
};

// hamlib's VFO names, which may follow any command (its VFO mode).
constexpr const char* kVfoNames[] = {"VFOA", "VFOB", "VFOC", "currVFO", "VFO", "MEM", "Main", "Sub",
                                     "TX", "RX", "MainA", "MainB", "SubA", "SubB", "None"};

constexpr int kEnavail = -11, kEtimeout = -5, kEinval = -1;

// protocol 0 of \dump_state, as the client reads it line by line. The
// receive range is every frequency a reading can name (a count of 100 Hz
// in 32 bits); power -1 -1: it cannot transmit.
constexpr const char* kDumpStateLines[] = {
    "0", "2", "0", "0 214748364700 0x2ef -1 -1 0x1 0x0", "0 0 0 0 0 0 0", "0 0 0 0 0 0 0", "0 0", "0 0",
    "0", "0", "0", "0", "0", "0", "0x0", "0x0",
    "0x44000000",  // has_get_level: STRENGTH and RAWSTR
    "0x0", "0x0", "0x0"};

bool word_is(const char* word, int32_t length, const char* name, bool any_case = false) {
    if (static_cast<size_t>(length) != strlen(name)) return false;
    for (int32_t i = 0; i < length; ++i)
        if (any_case ? tolower(static_cast<unsigned char>(word[i])) != tolower(static_cast<unsigned char>(name[i]))
                     : word[i] != name[i])
            return false;
    return true;
}

struct Words {
    const char* at;
    const char* end;
    // The next blank-separated word, or false at the line's end.
    bool next(const char** start, int32_t* length) {
        while (at < end && (*at == ' ' || *at == '\t' || *at == '\r')) ++at;
        if (at == end) return false;
        *start = at;
        while (at < end && *at != ' ' && *at != '\t' && *at != '\r') ++at;
        *length = static_cast<int32_t>(at - *start);
        return true;
    }
    bool peek_vfo() {
        const char* save = at;
        const char* word;
        int32_t length;
        if (next(&word, &length))
            for (const char* name : kVfoNames)
                if (word_is(word, length, name, true)) return true;
        at = save;
        return false;
    }
};

// One answer in the requested form: plain (values alone, RPRT only for a
// set or a failure), or extended with separator `sep` (a header, labelled
// values and RPRT).
struct Reply {
    std::string* out;
    char sep;  // 0: plain
    void value(const char* label, const std::string& text) {
        if (sep && *label) *out += std::string(label) + ": ";
        *out += text;
        *out += sep ? sep : '\n';
    }
    void rprt(int code) {
        *out += "RPRT " + std::to_string(code) + '\n';
    }
};

}  // namespace

int32_t rigctl_strength_db(int32_t signal) {
    return static_cast<int32_t>(std::lround(-54.0 + signal * 114.0 / 1023.0));
}

bool rigctl_answer(const char* line, int32_t length, const Readings& now, std::string* out) {
    Words words{line, line + length};
    const char* word;
    int32_t size;
    bool answering = now.state == kAnswering && now.have_pass;
    while (words.next(&word, &size)) {
        char sep = 0;
        if (strchr("+;|,", *word)) {
            sep = *word == '+' ? '\n' : *word;
            ++word, --size;
            if (size == 0 && !words.next(&word, &size)) return false;
        }
        const Command* command = nullptr;
        for (const Command& c : kCommands)
            if ((size == 1 && c.letter == *word) || (*word == '\\' && word_is(word + 1, size - 1, c.name))) {
                command = &c;
                break;
            }
        Reply reply{out, sep};
        if (!command) {
            // Its arguments cannot be told from commands: the line ends here.
            if (sep) *out += std::string(word, size) + ':' + sep;
            reply.rprt(kEnavail);
            return false;
        }
        bool vfo = command->answer != kSetVfo && words.peek_vfo();  // set_vfo's argument is one
        std::string arguments[3];
        int8_t given = 0;
        for (; given < command->arguments; ++given) {
            const char* a;
            int32_t n;
            if (!words.next(&a, &n)) break;
            arguments[given] = std::string(a, n);
        }
        if (command->answer == kChkVfo) {
            if (sep) *out += "ChkVFO: ";
            *out += "0\n";
            continue;
        }
        if (sep) {
            *out += command->name;
            *out += ':';
            if (vfo) *out += " VFOA";
            for (int8_t i = 0; i < given; ++i) *out += ' ' + arguments[i];
            *out += sep;
        }
        if (given < command->arguments) {
            reply.rprt(kEinval);  // an argument missing
            continue;
        }
        int code = 0;
        bool set = false;
        switch (command->answer) {
        case kRefuse: code = kEnavail; break;
        case kFreq:
            if (!answering) code = kEtimeout;
            else reply.value("Frequency", std::to_string(now.frequency_hz));
            break;
        case kMode:
            // The scanner does not report its mode: hamlib's "no mode" and
            // no passband.
            reply.value("Mode", "None");
            reply.value("Passband", "0");
            break;
        case kVfo: reply.value("VFO", "VFOA"); break;
        case kSetVfo:
            set = true;
            if (!word_is(arguments[0].data(), static_cast<int32_t>(arguments[0].size()), "VFOA", true)) code = kEnavail;
            break;
        case kPtt: reply.value("PTT", "0"); break;
        case kSplit:
            reply.value("Split", "0");
            reply.value("TX VFO", "VFOA");
            break;
        case kLevel:
            if (arguments[0] != "STRENGTH" && arguments[0] != "RAWSTR") code = kEinval;
            else if (!answering) code = kEtimeout;
            else if (arguments[0] == "STRENGTH") reply.value("", std::to_string(rigctl_strength_db(now.signal)));
            else reply.value("", std::to_string(now.signal));
            break;
        case kDumpState:
            for (const char* l : kDumpStateLines) *out += std::string(l) + '\n';
            break;
        case kPowerstat: reply.value("Power Status", "1"); break;
        case kLockMode:
            reply.value("Locked", "0");
            set = true;  // hamlib 4.7 reads an RPRT after the value
            break;
        case kQuit:
            reply.rprt(0);
            return true;
        case kChkVfo: break;
        }
        if (sep || set || code != 0) reply.rprt(code);
    }
    return false;
}

void rigctl_feed(RigctlLine& line, const char* data, int32_t count, const Readings& now, std::string* out) {
    for (int32_t i = 0; i < count && !line.quit; ++i) {
        char c = data[i];
        if (c == '\n') {
            if (line.too_long) line.too_long = false;
            else line.quit = rigctl_answer(line.text, line.length, now, out);
            line.length = 0;
        } else if (line.too_long) {
            continue;
        } else if (line.length == kRigctlLineMax) {
            line.too_long = true;
            line.length = 0;
            *out += "RPRT -1\n";
        } else {
            line.text[line.length++] = c;
        }
    }
}
