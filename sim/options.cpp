// rxmon-sim's command line and its help.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#include "sim.h"

namespace {

const char kHelp[] =
    "Usage: rxmon-sim [OPTION]...\n"
    "A simulated radio scanner for trying rxmon without one. It answers the\n"
    "scanner commands IDN, VER, LVL, TUN and SIG (three characters and a\n"
    "carriage return) with one line each, paced as a real serial line would\n"
    "carry them: one byte every 10 bit times at its rate.\n"
    "\n"
    "By default it creates a pseudo-terminal, prints the path of its slave\n"
    "side on standard output and serves it until it is stopped (Ctrl+C,\n"
    "SIGTERM). It answers only while the other side has set the line to its\n"
    "own rate, so rxmon's baud-rate search is exercised for real. Example:\n"
    "\n"
    "  rxmon-sim --baud 38400 --path-file /tmp/sim.path &\n"
    "  RXMON_COM1=$(cat /tmp/sim.path) rxmon 1\n"
    "\n"
    "Line:\n"
    "  -b, --baud RATE        the scanner's rate: 115200, 57600, 38400, 19200 or\n"
    "                         9600 (default 9600)\n"
    "  -d, --device PATH      serve this serial device instead of a new\n"
    "                         pseudo-terminal; the line is set to RATE, 8N1, and\n"
    "                         the other side's rate cannot be checked\n"
    "  -p, --path-file FILE   also write the slave's path to FILE (removed at exit)\n"
    "  -l, --link PATH        also make PATH a symbolic link to the slave (removed\n"
    "                         at exit), e.g. a wine prefix's dosdevices/com1\n"
    "      --crlf             end replies with CR LF instead of CR\n"
    "      --delay MS         wait MS milliseconds before each reply (default 0)\n"
    "\n"
    "Scanner:\n"
    "  -m, --model A|B|X      model A (A10), model B (B20), or X, a model rxmon\n"
    "                         does not know (default A)\n"
    "      --level N          level reading; model A counts 0.05 V (default 128),\n"
    "                         model B a 10-bit value (default 628)\n"
    "      --tuning N         tuning reading, 0 to 200, 100 centred (default 100)\n"
    "      --tuning-drift     let the tuning reading swing slowly, 40 either side\n"
    "                         of N over 20 seconds, as a drifting signal would\n"
    "      --freq N           frequency in units of 100 Hz (default 1462500,\n"
    "                         146.25 MHz)\n"
    "      --firmware TEXT    firmware text of the info reply (default\n"
    "                         \"Firmware 2.07\")\n"
    "  -s, --signal COURSE    the signal reading's course, 0 to 1023:\n"
    "                           fixed:N              always N\n"
    "                           sweep[:LOW:HIGH:STEP] up and down between LOW and\n"
    "                                                HIGH by STEP a reading\n"
    "                                                (default sweep:0:1023:8)\n"
    "                           walk[:SEED]          a random walk from 512\n"
    "\n"
    "Faults (N counts commands; 0 switches a fault off):\n"
    "      --drop N           leave every Nth command unanswered\n"
    "      --garble N         garble every Nth reply (its line end is kept)\n"
    "      --overlong N       answer every Nth command with 200 characters\n"
    "      --info-differ N    make every Nth info reply differ from the last one\n"
    "      --switch-model S   become the other model (A and B swap, X becomes A)\n"
    "                         S seconds after the start\n"
    "      --silent S:D[:RATE] go silent S seconds after the start for D seconds,\n"
    "                         then answer again, at RATE if given\n"
    "      --random-faults MEAN[:SEED]\n"
    "                         fault episodes at random, one at a time: silence of\n"
    "                         1 to 4 s, silence and then another rate, 1 to 3\n"
    "                         garbled or over-long replies, info replies that\n"
    "                         differ or unanswered commands, a change of model,\n"
    "                         1 to 10 replies with a line feed inside. After each\n"
    "                         episode it waits until the other side has read a\n"
    "                         whole pass again (its SIG answered), then pauses\n"
    "                         0.25 to 1.75 times MEAN seconds before the next.\n"
    "                         The log names each episode, its end, and how long\n"
    "                         the other side took to find the scanner again\n"
    "      --unplug S         close the line S seconds after the start, as a pulled\n"
    "                         cable would, and exit (status 0)\n"
    "      --flood            send the five replies over and over without pause,\n"
    "                         unasked and as fast as the line takes them, as a\n"
    "                         device that ignores the line rate can\n"
    "\n"
    "Other:\n"
    "  -v, --log              print what is received and sent, with times, on\n"
    "                         standard error\n"
    "      --log-file FILE    the same into FILE\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Exit status: 0 after a stop by signal, 1 on a failure, 2 on a bad option.\n";

[[noreturn]] void usage_error(const char* what, const char* value) {
    fprintf(stderr, "rxmon-sim: %s: '%s'\nTry 'rxmon-sim --help'.\n", what, value ? value : "");
    exit(2);
}

long long number(const char* text, long long low, long long high, const char* what) {
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high) usage_error(what, text);
    return v;
}

double seconds(const char* text, const char* what) {
    char* end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end || v < 0) usage_error(what, text);
    return v;
}

void parse_course(const char* text, SimOptions* o) {
    std::string s = text;
    auto field = [&](size_t& pos) {
        size_t colon = s.find(':', pos);
        std::string f = s.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        pos = colon == std::string::npos ? s.size() + 1 : colon + 1;
        return f;
    };
    size_t pos = 0;
    std::string kind = field(pos);
    if (kind == "fixed") {
        if (pos > s.size()) usage_error("the fixed course wants a reading, as in fixed:300", text);
        o->course = Course::Fixed;
        o->signal_low = static_cast<int>(number(field(pos).c_str(), 0, 1023, "bad signal reading"));
    } else if (kind == "sweep") {
        o->course = Course::Sweep;
        if (pos <= s.size()) {
            o->signal_low = static_cast<int>(number(field(pos).c_str(), 0, 1023, "bad sweep"));
            o->signal_high = static_cast<int>(number(field(pos).c_str(), 0, 1023, "bad sweep"));
            o->signal_step = static_cast<int>(number(field(pos).c_str(), 1, 1023, "bad sweep"));
            if (o->signal_low > o->signal_high) usage_error("sweep LOW above HIGH", text);
        }
    } else if (kind == "walk") {
        o->course = Course::Walk;
        if (pos <= s.size()) o->seed = static_cast<unsigned>(number(field(pos).c_str(), 0, 4294967295LL, "bad seed"));
    } else {
        usage_error("unknown signal course", text);
    }
    if (pos <= s.size()) usage_error("too many fields in signal course", text);
}

}  // namespace

bool sim_rate_known(int baud) {
    return baud == 115200 || baud == 57600 || baud == 38400 || baud == 19200 || baud == 9600;
}

SimOptions sim_parse(int argc, char** argv) {
    enum { CRLF = 256, DELAY, LEVEL, TUNING, DRIFT, FREQ, FIRMWARE, DROP, GARBLE, OVERLONG, DIFFER, SWITCH, SILENT, LOGFILE, RANDOM, UNPLUG, FLOOD, VERSION };
    static const option longs[] = {
        {"baud", required_argument, nullptr, 'b'},
        {"device", required_argument, nullptr, 'd'},
        {"path-file", required_argument, nullptr, 'p'},
        {"link", required_argument, nullptr, 'l'},
        {"crlf", no_argument, nullptr, CRLF},
        {"delay", required_argument, nullptr, DELAY},
        {"model", required_argument, nullptr, 'm'},
        {"level", required_argument, nullptr, LEVEL},
        {"tuning", required_argument, nullptr, TUNING},
        {"tuning-drift", no_argument, nullptr, DRIFT},
        {"freq", required_argument, nullptr, FREQ},
        {"firmware", required_argument, nullptr, FIRMWARE},
        {"signal", required_argument, nullptr, 's'},
        {"drop", required_argument, nullptr, DROP},
        {"garble", required_argument, nullptr, GARBLE},
        {"overlong", required_argument, nullptr, OVERLONG},
        {"info-differ", required_argument, nullptr, DIFFER},
        {"switch-model", required_argument, nullptr, SWITCH},
        {"silent", required_argument, nullptr, SILENT},
        {"random-faults", required_argument, nullptr, RANDOM},
        {"unplug", required_argument, nullptr, UNPLUG},
        {"flood", no_argument, nullptr, FLOOD},
        {"log", no_argument, nullptr, 'v'},
        {"log-file", required_argument, nullptr, LOGFILE},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, VERSION},
        {nullptr, 0, nullptr, 0},
    };
    SimOptions o;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":b:d:p:l:m:s:vh", longs, nullptr)) != -1) {
        switch (c) {
            case 'b':
                o.baud = static_cast<int>(number(optarg, 1, 4000000, "bad rate"));
                if (!sim_rate_known(o.baud)) usage_error("the scanner runs at 115200, 57600, 38400, 19200 or 9600, not", optarg);
                break;
            case 'd': o.device = optarg; break;
            case 'p': o.path_file = optarg; break;
            case 'l': o.link = optarg; break;
            case CRLF: o.crlf = true; break;
            case DELAY: o.delay_ms = static_cast<int>(number(optarg, 0, 60000, "bad delay")); break;
            case 'm':
                if (strlen(optarg) != 1 || !strchr("ABXabx", optarg[0])) usage_error("the model is A, B or X, not", optarg);
                o.model = static_cast<char>(optarg[0] & ~0x20);
                break;
            case LEVEL: o.level = static_cast<int>(number(optarg, 0, 1023, "bad level")); break;
            case TUNING: o.tuning = static_cast<int>(number(optarg, 0, 200, "bad tuning reading")); break;
            case DRIFT: o.tuning_drift = true; break;
            case FREQ: o.frequency = number(optarg, 0, 99999999999LL, "bad frequency"); break;
            case FIRMWARE:
                if (strpbrk(optarg, "\r\n")) usage_error("the firmware text is one line", optarg);
                o.firmware = optarg;
                break;
            case 's': parse_course(optarg, &o); break;
            case DROP: o.drop_every = static_cast<int>(number(optarg, 0, 1000000, "bad count")); break;
            case GARBLE: o.garble_every = static_cast<int>(number(optarg, 0, 1000000, "bad count")); break;
            case OVERLONG: o.overlong_every = static_cast<int>(number(optarg, 0, 1000000, "bad count")); break;
            case DIFFER: o.info_differ_every = static_cast<int>(number(optarg, 0, 1000000, "bad count")); break;
            case SWITCH: o.switch_model_after = seconds(optarg, "bad time"); break;
            case SILENT: {
                std::string s = optarg;
                size_t a = s.find(':');
                if (a == std::string::npos) usage_error("--silent wants S:D[:RATE]", optarg);
                size_t b = s.find(':', a + 1);
                o.silent_after = seconds(s.substr(0, a).c_str(), "bad time");
                o.silent_for = seconds(s.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1).c_str(),
                                       "bad time");
                if (b != std::string::npos) {
                    o.rate_after_silence = static_cast<int>(number(s.c_str() + b + 1, 1, 4000000, "bad rate"));
                    if (!sim_rate_known(o.rate_after_silence)) usage_error("bad rate", s.c_str() + b + 1);
                }
                break;
            }
            case RANDOM: {
                std::string s = optarg;
                size_t colon = s.find(':');
                o.random_faults_mean = seconds(s.substr(0, colon).c_str(), "bad time");
                if (o.random_faults_mean <= 0) usage_error("--random-faults wants a mean above 0 s", optarg);
                if (colon != std::string::npos)
                    o.random_faults_seed =
                        static_cast<unsigned>(number(s.c_str() + colon + 1, 0, 4294967295LL, "bad seed"));
                break;
            }
            case UNPLUG: o.unplug_after = seconds(optarg, "bad time"); break;
            case FLOOD: o.flood = true; break;
            case 'v': o.log = true; break;
            case LOGFILE: o.log_file = optarg; break;
            case 'h': fputs(kHelp, stdout); exit(0);
            case VERSION: puts("rxmon-sim " RXMON_VERSION); exit(0);
            case ':': usage_error("option needs a value", argv[optind - 1]);
            default: usage_error("unknown option", argv[optind - 1]);
        }
    }
    if (optind < argc) usage_error("unexpected argument", argv[optind]);
    if (!o.device.empty() && !o.link.empty()) usage_error("--link is for a pseudo-terminal, not with --device", o.link.c_str());
    return o;
}
