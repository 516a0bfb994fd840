// Start-up, port selection, the baud loop and the orderly shutdown.
#include "app/monitor.h"

#include "console/keys.h"
#include "console/screen.h"
#include "runtime/crash.h"
#include "runtime/file.h"
#include "runtime/fmt.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "serial/port.h"

void monitor_main() {
    std_init(1);
    crash_install(nullptr, 0, T("rxmon-last-crash-info.txt"));
    monitor_startup();
    show_status(0);
    baud_loop();
}

void monitor_startup() {
    answer_help_or_version();
    con_print(T("rxmon: radio scanner monitor. ESC quits, S sets the beeps.\n"));
    build_pitch_table();

    static char arguments[32768];
    program_path(nullptr, nullptr, arguments);
    const char* rest = arguments;
    int32_t port = 0;
    bool from_command_line = num_parse(arguments, &rest, &port) == 0;
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
    if (port < 1 || port > 9) {
        out_printf(std_err, T("COM%i? Use 1 to 9.\n"), port);
        prog_exit(1);
    }
    open_at_baud(9600);

    if (from_command_line) {
        int32_t choice;
        if (num_parse(rest, nullptr, &choice) == 0) mon.sound_choice = choice;
    }
    CreateThread(nullptr, 0, tone_thread, nullptr, 0, nullptr);

    scr_open(1, 20, 40);
    scr_clear(0x10);
    scr_cursor(0);
    scr_print(T("rxmon scanner view"), 0x19, 1, 12);
    scr_print(T("Keys: ESC quits  "), 0x17, 19, 4);
}

void monitor_quit() {
    mon.quit_flag = 1;
    while (mon.quit_flag.load() != 0) Sleep(1);
    Sleep(100);
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
