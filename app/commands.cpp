// The keyboard commands, read between scanner exchanges.
#include "app/monitor.h"

#include "app/aids.h"

#include "console/keys.h"

void handle_keys() {
    for (int32_t key; (key = key_poll()) != KEY_NONE;) {
        switch (key) {
            case KEY_ESC: monitor_quit();
            case 'S':
            case 's':
                mon.beep_mode = mon.beep_mode == 0 ? 5 : mon.beep_mode - 1;
                draw_sound_panel();
                break;
            case 'M':
            case 'm':
            case 'Q':
            case 'q': mon.muted = mon.muted.load() ? 0 : 1; break;
            case KEY_UP:
                if (mon.volume.load() < 100) mon.volume = mon.volume.load() + 1;
                break;
            case KEY_DOWN:
                if (mon.volume.load() > 0) mon.volume = mon.volume.load() - 1;
                break;
            case 'P':
            case 'p':
                if (peak_key()) break;
                [[fallthrough]];
            default: snd_beep(1000, 1);
        }
    }
}
