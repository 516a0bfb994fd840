// --help, -h and --version: answered before anything else starts, so that
// neither the port nor the screen is touched.
#include "app/monitor.h"

#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"

namespace {
// True when the argument text starts with this word, alone.
bool first_word_is(const char* arguments, const char* word) {
    word = txt_unscramble(word);
    int32_t n = txt_len(word);
    return txt_compare_n(arguments, word, n) == 0 && (arguments[n] == 0 || cc_is(arguments[n], CC_BLANK));
}
}  // namespace

void answer_help_or_version() {
    static char arguments[32768];
    program_path(nullptr, nullptr, arguments);
    const char* first = txt_skip_blanks(arguments);
    bool version = first_word_is(first, T("--version"));
    if (!version && !first_word_is(first, T("--help")) && !first_word_is(first, T("-h"))) return;
    // A reader that stops early (rxmon --help | head -1) is no internal
    // failure; a text that did not arrive whole still ends with 1.
    short_write_report = 0;
    if (version) prog_exit(out_print(std_out, T("rxmon " RXMON_VERSION "\n")) ? 1 : 0);
    prog_exit(out_print(std_out, T(
        "Usage: rxmon [PORT [SOUND]]\n"
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
        "On Linux COM n is the port named by the environment variable\n"
        "RXMON_COM<n> (a device path or rfc2217://HOST:PORT), or else the\n"
        "device /dev/ttyS<n-1>.\n"
        "\n"
        "Keys while it runs:\n"
        "  ESC         quit\n"
        "  S           step the beep mode\n"
        "  M or Q      mute or unmute the tone\n"
        "  Up, Down    tone volume (it starts at 0)\n"
        "  any other   a short beep\n"
        "\n"
        "Exit status: 0 after ESC; 1 when the port is not given, not valid or\n"
        "cannot be opened, when the scanner's line goes away, and on any other\n"
        "failure.\n")) ? 1 : 0);
}
