// The options, and the usage that --help prints: answered before anything
// else starts, so that neither the port nor the screen is touched.
#include "app/options.h"

#include "net/listen.h"

#include "runtime/file.h"
#include "runtime/fmt.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#ifndef _WIN32
#include "net/serve.h"
#endif

MonitorOptions options;

namespace {
#ifdef _WIN32
constexpr bool kHttpBuilt = false;
#else
constexpr bool kHttpBuilt = true;
#endif

// Each option: a switch sets its flag; one with a value fills its text.
struct Option {
    const char* name;
    int16_t* flag;
    char* value;
    int32_t size;  // of value, with its zero
    const char* what;
};

[[noreturn]] void refuse_option(const char* why, const char* word, int32_t code = 2) {
    char shown[204];
    txt_copy_n(shown, word, 200);
    out_printf(std_err, why, shown);
    if (code == 2) print_usage(std_err);
    prog_exit(code);
}

// --help and --version answer wherever they stand before "--", whatever
// else the line holds: who asks for the usage gets it.
void answer_help(const char* arguments, char* word) {
    for (const char* at = arguments; (at = txt_next_arg(at, word)) != nullptr;) {
        if (txt_compare(word, T("--")) == 0) return;
        if (txt_compare(word, T("--version")) == 0) {
            short_write_report = 0;
            prog_exit(out_print(std_out, T("rxmon " RXMON_VERSION "\n")) ? 1 : 0);
        }
        if (txt_compare(word, T("--help")) == 0 || txt_compare(word, T("-h")) == 0) {
            // A reader that stops early (rxmon --help | head -1) is no
            // internal failure; a text that did not arrive whole still ends
            // with 1.
            short_write_report = 0;
            prog_exit(print_usage(std_out) ? 1 : 0);
        }
    }
}
}  // namespace

int32_t take_options(const char* arguments, const char* words[], int32_t max) {
    const Option table[] = {
        {T("--reconnect"), &options.reconnect, nullptr, 0, nullptr},
        {T("--peak"), &options.peak, nullptr, 0, nullptr},
        {T("--history"), &options.history, nullptr, 0, nullptr},
        {T("--log"), nullptr, options.log_path, sizeof options.log_path, T("a file name")},
        {T("--rigctl"), nullptr, options.rigctl, sizeof options.rigctl, T("an address, [HOST:]PORT")},
        {T("--serve"), nullptr, options.serve, sizeof options.serve, T("an address, [HOST:]PORT")},
    };
    static char plain[32768];
    char* word = plain;
    answer_help(arguments, word);
    int32_t count = 0;
    bool options_end = false;
    for (const char* at = arguments; (at = txt_next_arg(at, word)) != nullptr;) {
        char* next = word + txt_len(word) + 1;
        if (options_end || word[0] != '-' || !word[1] || cc_is(word[1], CC_DIGIT)) {
            if (count < max) words[count] = word, word = next;
            ++count;
            continue;
        }
        if (txt_compare(word, T("--")) == 0) {
            options_end = true;
            continue;
        }
        if (!kHttpBuilt && txt_compare_n(word, T("--serve"), 7) == 0 && (!word[7] || word[7] == '=')) {
            // The page's HTTP library is not built for Windows.
            out_print(std_err, T("rxmon: --serve is not available in the Windows programs; use --rigctl or "
                                 "the Linux program.\n"));
            prog_exit(2);
        }
        char* equals = txt_find(word, txt_char('='));
        if (equals) *equals = 0;
        const Option* o = table;
        while (o < table + sizeof table / sizeof *table && txt_compare(word, o->name) != 0) ++o;
        if (o == table + sizeof table / sizeof *table || (equals && !o->value)) {
            if (equals) *equals = '=';
            refuse_option(T("rxmon: unknown option %s\n"), word);
        }
        if (o->flag) {
            *o->flag = 1;
            continue;
        }
        // The value is the rest of --name=VALUE, or else the next argument,
        // unless that one starts with '-': --log --peak is a missing name,
        // not a file called --peak.
        const char* value = equals ? equals + 1 : nullptr;
        if (!value) {
            at = txt_next_arg(at, next);
            value = at && next[0] != '-' ? next : nullptr;
        }
        char line[400];
        if (!value || !value[0]) {
            fmt_format(line, T("rxmon: %s needs %s (%s=VALUE for one that starts with -).\n"), o->name, o->what,
                       o->name);
            refuse_option(line, word);
        }
        if (o->value[0]) {
            fmt_format(line, T("rxmon: %s is given twice.\n"), o->name);
            refuse_option(line, word);
        }
        if (txt_len(value) >= o->size) {
            fmt_format(line, T("rxmon: the value of %s is too long: %i characters, where %i at most are taken.\n"),
                       o->name, txt_len(value), o->size - 1);
            refuse_option(line, word, 1);
        }
        txt_copy(o->value, value);
    }
    NetAddress parsed;
    if (options.rigctl[0] && !net_address_parse(options.rigctl, &parsed))
        refuse_option(T("rxmon: %s needs an address, [HOST:]PORT, with PORT 1 to 65535.\n"), T("--rigctl"));
    if (options.serve[0] && !net_address_parse(options.serve, &parsed))
        refuse_option(T("rxmon: %s needs an address, [HOST:]PORT, with PORT 1 to 65535.\n"), T("--serve"));
    return count;
}

int32_t print_usage(HANDLE output) {
    return out_print(output, T(
        "Usage: rxmon [OPTION...] [PORT [SOUND]]\n"
        "       rxmon --help | -h | --version\n"
        "\n"
        "Watches a radio scanner on a serial line: finds its baud rate, draws\n"
        "its readings on a full-screen text display and turns its signal into\n"
        "a tone whose pitch rises with it.\n"
        "\n"
        "PORT   the scanner's port: a COM port number, 1 to 9. On Linux also a\n"
        "       device path, such as /dev/ttyUSB0, or a serial port on the\n"
        "       network served with RFC 2217, as rfc2217://HOST:PORT.\n"
        "       Without PORT, or with a word that names none (abc), rxmon\n"
        "       asks for a number by key.\n"
        "SOUND  0 for beeps, or n for the tone on sound device n-1 (default\n"
        "       1; beeps when the device cannot be opened).\n"
        "\n"
        "Options:\n"
        "  --reconnect   wait for a port that goes away, or is not there yet\n"
        "  --peak        hold the highest recent signal; P resets it\n"
        "  --history     a strip of the signal over the last 20 seconds\n"
        "  --log FILE    append every reading to FILE, as CSV (--log=FILE for\n"
        "                a name that starts with -)\n"
        "  --rigctl [HOST:]PORT\n"
        "                answer hamlib's rigctld protocol (read-only) on\n"
        "                HOST (default 127.0.0.1) and PORT (hamlib's: 4532)\n"
        "  --serve [HOST:]PORT\n"
        "                the readings and a live page over HTTP (Linux); HOST\n"
        "                is 127.0.0.1 unless given, 0.0.0.0 for the network\n"
        "  --            ends the options: what follows is PORT and SOUND\n"
        "\n"
        "Options are read from left to right; --help, -h or --version answers\n"
        "wherever it stands, whatever else is given.\n"
        "\n"
        "On Linux COM n is the port named by the environment variable\n"
        "RXMON_COM<n> (a device path or rfc2217://HOST:PORT), or else the\n"
        "device /dev/ttyS<n-1>.\n"
        "\n"
        "Keys while it runs:\n"
        "  ESC         quit\n"
        "  S           step the beep mode\n"
        "  M or Q      mute or unmute the tone\n"
        "  Up, Down    tone volume (it starts at 0)\n"
        "  P           with --peak: the peak drops to the reading\n"
        "  any other   a short beep\n"
        "\n"
        "Exit status: 0 after ESC; 1 when the port is not given, not valid or\n"
        "cannot be opened, when the log cannot be opened, when --rigctl's\n"
        "address cannot be bound, when the scanner's line goes away, when an\n"
        "option's value is too long, and on any other failure; 2 for an option\n"
        "rxmon does not know, or one whose value is missing, malformed or\n"
        "given twice.\n"));
}
