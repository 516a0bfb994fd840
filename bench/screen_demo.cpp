// The console layer on its own: takes over the terminal at 20 × 40, draws
// blinking, vanishing and inverse text, both bars' block glyphs and a
// title, and shows the KeyCode and scan code of every key until ESC.
//
//   screen_demo            the demonstration
//   screen_demo fail       gives the screen back and prints a message, as
//                          start-up does when the port cannot be opened
//   screen_demo fatal      stops through fatal while the screen is taken
#include "console/keys.h"
#include "console/screen.h"
#include "runtime/out.h"
#include "runtime/txt.h"

namespace {

void draw_screen() {
    scr_clear(0x10);
    scr_cursor(0);
    scr_print(T("rxmon console demo"), 0x19, 1, 12);
    scr_print(T("vanishing:"), 0x1B, 3, 2);
    scr_print(T("BLINK"), 0xFF1C, 3, 13);
    scr_print(T("inverse:"), 0x1B, 4, 2);
    scr_print(T("INVERSE"), 0xBB1E, 4, 13);
    scr_print(T("steady:"), 0x1B, 5, 2);
    scr_print(T("STEADY"), 0x1A, 5, 13);

    // The signal bar grows to the right from full blocks and a left half;
    // the tuning bar grows to the left from a right half to the centre mark.
    char bar[40];
    int n = 0;
    for (; n < 12; ++n) bar[n] = static_cast<char>(219);
    bar[n++] = static_cast<char>(221);
    bar[n] = 0;
    scr_print(T("signal:"), 0x1B, 7, 2);
    scr_print(bar, 0x1E, 8, 2);
    n = 0;
    bar[n++] = static_cast<char>(222);
    for (int i = 0; i < 5; ++i) bar[n++] = static_cast<char>(219);
    bar[n++] = '|';
    bar[n] = 0;
    scr_print(T("tuning:"), 0x1B, 10, 2);
    scr_print(bar, 0x1E, 11, 13);

    scr_print(T("Keys show below; ESC ends."), 0x17, 19, 4);
    SetConsoleTitleA(txt_unscramble(T("rxmon demo 145.500 MHz")));
}

}  // namespace

int main(int argc, char** argv) {
    std_init(1);
    scr_open(1, 20, 40);
    draw_screen();
    if (argc > 1 && txt_compare(argv[1], "fail") == 0) {
        scr_restore();
        con_printf(T("The demo gave the screen back and ends with exit code %i.\n"), 1);
        prog_exit(1);
    }
    if (argc > 1 && txt_compare(argv[1], "fatal") == 0) {
        Sleep(300);
        fatal(T("The demo stops on purpose (%s).\n"), T("fatal"));
    }
    int32_t count = 0;
    for (;;) {
        int32_t scan = 0;
        int32_t key = key_read(&scan);
        if (key == -1) {
            Sleep(1);
            continue;
        }
        ++count;
        scr_printf(15, 2, 0x1F, T("key %5i scan %3i  #%i   "), key, scan, count);
        if (key == 27) break;
    }
    scr_restore();
    prog_exit(0);
}
