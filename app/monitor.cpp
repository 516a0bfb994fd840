// Start-up, port selection, the baud loop and the orderly shutdown.
#include "app/monitor.h"

#include "app/aids.h"
#include "app/options.h"

#include "console/keys.h"
#include "console/screen.h"
#include "net/listen.h"
#include "net/readings.h"
#include "net/rigctl.h"
#include "runtime/crash.h"
#include "runtime/file.h"
#include "runtime/fmt.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "serial/port.h"
#ifndef _WIN32
#include "net/serve.h"
#endif

bool tone_started;

void monitor_main() {
    std_init(1);
    crash_install(nullptr, 0, T("rxmon-last-crash-info.txt"));
    monitor_startup();
    show_status(0);
    aids_searching();
    baud_loop();
}

namespace {
[[noreturn]] void refuse(const char* line);

// A first argument that is not a number is a port's name where it is
// clearly meant as one: a path, an address (a scheme, or HOST:PORT), or a
// name too long for the title (over 200 characters). A name the platform
// cannot take ends the start-up, saying why. Any other word (abc) leads to
// the prompt, as it always did.
bool take_port_name(const char* word) {
    int32_t length = txt_len(word);
    char line[700], why[400];
    if (length > 200) {
        fmt_format(line, T("The port's name is too long: %i characters, where 200 at most are taken.\n"), length);
        refuse(line);
    }
    if (!txt_find(word, txt_char('/')) && !txt_find(word, txt_char(':'))) return false;
    txt_copy(mon.port_name, word);
    if (!platform_port_name(mon.port_name, why, sizeof why)) {
        if (!why[0]) txt_copy(why, T("a port is given by its COM number, 1 to 9"));
        fmt_format(line, T("%s is not a port that rxmon can open: %s.\n"), mon.port_name, why);
        refuse(line);
    }
    return true;
}

// Ends the start-up before the port is opened or the terminal touched: one
// line on error output, and exit code 1.
[[noreturn]] void refuse(const char* line) {
    out_print(std_err, line);
    prog_exit(1);
}

// Without a console to draw on, the monitor would poll blind; without one
// to read keys from, its port prompt would wait for ever.
void check_console(bool port_given) {
    if (scr_attach(0) != 0) {
        char reason[512], line[640];
        DWORD code = GetLastError();
        if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, reason,
                           sizeof reason, nullptr) == 0)
            fmt_format(reason, T("error %u."), code);
        txt_trim_right(reason);  // the system's texts end in a line break
        fmt_format(line, T("rxmon has no screen to draw on: %s\n"), reason);
        refuse(line);
    }
    DWORD mode;
    if (!port_given && !GetConsoleMode(std_in, &mode))
        refuse(T("rxmon has no keyboard to ask for the port: give the COM port (1-9) as the first argument.\n"));
}
// The servers bind before the screen is taken, so that an address that
// cannot be bound is told on the terminal as it was.
void start_servers() {
    if (!options.rigctl[0] && !options.serve[0]) return;
    readings_enable();
    NetAddress address;
    char why[400], name[300], line[800];
    if (net_address_parse(options.rigctl, &address) && !rigctl_serve(address, why, sizeof why)) {
        net_address_name(address, name, sizeof name);
        fmt_format(line, T("rxmon cannot answer rigctl on %s: %s.\n"), name, why);
        refuse(line);
    }
#ifndef _WIN32
    int32_t port = 0;
    if (net_address_parse(options.serve, &address) && num_parse(address.port, nullptr, &port) == 0 &&
        !serve_start(address.host, port, why, sizeof why)) {
        txt_append(why, T("\n"));
        refuse(why);
    }
#endif
}
}  // namespace

void monitor_startup() {
    static char arguments[32768];
    program_path(nullptr, nullptr, arguments);
    // The port, then the sound choice; any further arguments are not read.
    const char* words[2] = {"", ""};
    take_options(arguments, words, 2);
    int32_t port = 0;
    bool from_command_line = num_parse(words[0], nullptr, &port) == 0;
    // A named port takes COM 1's slot in the port table.
    if (!from_command_line && take_port_name(words[0])) from_command_line = true, port = 1;
    // The prompt offers only 1 to 9: a number out of range can only be given.
    if (from_command_line && (port < 1 || port > 9)) {
        out_printf(std_err, T("COM%i? Use 1 to 9.\n"), port);
        prog_exit(1);
    }
    start_servers();
    check_console(from_command_line);
    aids_open();

    con_print(T("rxmon: radio scanner monitor. ESC quits, S sets the beeps.\n"));
    build_pitch_table();
    if (!from_command_line) {
        out_print(std_err, T("No COM port given: which one is the scanner on (1-9)?\n"));
        out_print(std_err, T("Press its number, or ESC to give up:         "));
        for (;;) {
            int32_t key = key_wait();
            if (key == KEY_ESC) prog_exit(1);
            if (key >= '1' && key <= '9') {
                port = key - '0';
                break;
            }
        }
        out_printf(std_err, T("COM%i\n\n"), port);
    }
    mon.port_number = port;
    aids_started();
    // Keys are read from here on, so that ESC can end a network port's
    // waits; under --reconnect a port that is not there yet is waited for
    // on the screen.
    DWORD waiting;
    GetNumberOfConsoleInputEvents(std_in, &waiting);
    char failure[1400];
    bool absent = false;
    if (!options.reconnect) open_at_baud(9600);
    else if (int32_t r = try_open(9600, failure); r == 3) open_failed(failure);
    else if (r != 0) absent = true;

    if (from_command_line) {
        int32_t choice;
        if (num_parse(words[1], nullptr, &choice) == 0) mon.sound_choice = choice;
    }
    // Without its thread (the process limit reached) there is no tone to
    // play and no one to answer the quit handshake: Beep output, as when no
    // device opens.
    tone_started = CreateThread(nullptr, 0, tone_thread, nullptr, 0, nullptr) != nullptr;
    if (!tone_started) mon.sound_choice = 0;

    scr_open(1, 20, 40);
    scr_clear(0x10);
    scr_cursor(0);
    scr_print(T("rxmon scanner view"), 0x19, 1, 12);
    scr_print(T("Keys: ESC quits  "), 0x17, 19, 4);
#ifndef _WIN32
    if (options.serve[0]) {
        char address[300];
        serve_page_address(address, sizeof address);
        scr_print(T("Page: "), 0x1B, 2, 2);
        scr_print(address, 0x1A, 2, 8);
    }
#endif
    if (absent) wait_for_port();
}

void monitor_quit() {
    aids_ended();
    mon.quit_flag = 1;
    while (tone_started && mon.quit_flag.load() != 0) Sleep(1);
    Sleep(100);
#ifndef _WIN32
    serve_stop();
#endif
    port_close(mon.port_number);
    scr_restore();
    prog_exit(0);
}

void baud_loop() {
    for (;;) {
        for (mon.baud_index = 4; mon.baud_index >= 0; --mon.baud_index) {
            mon.current_baud = mon.baud_table[mon.baud_index];
            open_at_baud(mon.current_baud);
            port_putc(mon.port_number, 13);
            poll_cycle();
        }
    }
}
