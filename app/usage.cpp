// The options, and the usage that --help prints: answered before anything
// else starts, so that neither the port nor the screen is touched.
#include "app/options.h"

#include "runtime/file.h"
#include "runtime/fmt.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#ifndef _WIN32
#include "net/serve.h"
#endif

MonitorOptions options;

namespace {
// The next word of the text: its start and its end; a word in double quotes
// (as a command line quotes a path with blanks) runs to the closing quote.
const char* next_word(const char* text, const char** end) {
    const char* start = txt_skip_blanks(text);
    const char* p = start;
    if (*p == '"') {
        for (++p; *p && *p != '"';) ++p;
        if (*p) ++p;
    } else {
        while (*p && !cc_is(*p, CC_BLANK)) ++p;
    }
    *end = p;
    return start;
}

bool word_is(const char* start, const char* end, const char* name) {
    name = txt_unscramble(name);
    int32_t n = txt_len(name);
    return end - start == n && txt_compare_n(start, name, n) == 0;
}

[[noreturn]] void refuse_option(const char* why, const char* start, const char* end) {
    char word[300];
    txt_copy_n(word, start, static_cast<int>(end - start > 200 ? 200 : end - start));
    out_printf(std_err, why, word);
    print_usage(std_err);
    prog_exit(2);
}
}  // namespace

void take_options(char* arguments) {
    char rest[32768];
    rest[0] = 0;
    const char* end;
    for (const char* word = next_word(arguments, &end); *word; word = next_word(end, &end)) {
        bool option = word[0] == '-' && word[1] && !cc_is(word[1], CC_DIGIT);
        if (!option) {
            int32_t length = txt_len(rest);
            if (length) rest[length++] = ' ';
            txt_copy_n(rest + length, word, static_cast<int>(end - word));
            continue;
        }
        if (word_is(word, end, T("--version"))) {
            short_write_report = 0;
            prog_exit(out_print(std_out, T("rxmon " RXMON_VERSION "\n")) ? 1 : 0);
        }
        if (word_is(word, end, T("--help")) || word_is(word, end, T("-h"))) {
            // A reader that stops early (rxmon --help | head -1) is no
            // internal failure; a text that did not arrive whole still ends
            // with 1.
            short_write_report = 0;
            prog_exit(print_usage(std_out) ? 1 : 0);
        }
        if (word_is(word, end, T("--reconnect"))) options.reconnect = 1;
        else if (word_is(word, end, T("--peak"))) options.peak = 1;
        else if (word_is(word, end, T("--history"))) options.history = 1;
        else if (word_is(word, end, T("--log"))) {
            const char* option_end = end;
            const char* path = next_word(end, &end);
            if (*path == '"') ++path;
            const char* path_end = end > path && end[-1] == '"' ? end - 1 : end;
            if (path_end == path || path_end - path >= static_cast<int>(sizeof options.log_path))
                refuse_option(T("rxmon: %s needs a file name (at most 259 characters).\n"), word, option_end);
            txt_copy_n(options.log_path, path, static_cast<int>(path_end - path));
#ifndef _WIN32
        } else if (word_is(word, end, T("--serve"))) {
            const char* option_end = end;
            const char* value = next_word(end, &end);
            char text[300] = {};
            if (end - value < static_cast<int>(sizeof text)) txt_copy_n(text, value, static_cast<int>(end - value));
            if (!serve_parse(text, options.serve_host, sizeof options.serve_host, &options.serve_port))
                refuse_option(T("rxmon: %s needs [HOST:]PORT, such as 8080 or 0.0.0.0:8080.\n"), word, option_end);
#endif
        } else {
            refuse_option(T("rxmon: unknown option %s\n"), word, end);
        }
    }
    txt_copy(arguments, rest);
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
        "       Without PORT rxmon asks for a number by key.\n"
        "SOUND  0 for beeps, or n for the tone on sound device n-1 (default\n"
        "       1; beeps when the device cannot be opened).\n"
        "\n"
        "Options:\n"
        "  --reconnect   wait for a port that goes away, or is not there yet\n"
        "  --peak        hold the highest recent signal; P resets it\n"
        "  --history     a strip of the signal over the last 20 seconds\n"
        "  --log FILE    append every reading to FILE, as CSV\n"
        "  --serve [HOST:]PORT\n"
        "                the readings and a live page over HTTP (Linux); HOST\n"
        "                is 127.0.0.1 unless given, 0.0.0.0 for the network\n"
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
        "cannot be opened, when the log cannot be opened, when the scanner's\n"
        "line goes away, and on any other failure; 2 for an option rxmon does\n"
        "not know.\n"));
}
