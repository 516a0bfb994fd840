// The monitor's state and the port reopening.
#include "app/state.h"

#include "console/screen.h"
#include "runtime/fmt.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "serial/port.h"

MonitorState mon;

void port_label(char* out) {
    if (mon.port_name[0]) txt_copy(out, mon.port_name);
    else fmt_format(out, T("COM%i"), mon.port_number);
}

void open_at_baud(int32_t baud) {
    port_close(mon.port_number);
    if (port_open(mon.port_number, baud, 8, 0, 1) != 0) {
        scr_restore();
        char label[256];
        port_label(label);
        con_printf(T("%s cannot be opened: absent or in use.\n"), label);
        prog_exit(1);
    }
    port_drain(mon.port_number, 50);
}
