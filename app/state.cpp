// The monitor's state and the port reopening.
#include "app/state.h"

#include "console/screen.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "serial/port.h"

MonitorState mon;

void open_at_baud(int32_t baud) {
    port_close(mon.port_number);
    if (port_open(mon.port_number, baud, 8, 0, 1) != 0) {
        scr_restore();
        con_printf(T("COM%i cannot be opened: absent or in use.\n"), mon.port_number);
        prog_exit(1);
    }
    port_drain(mon.port_number, 50);
}
