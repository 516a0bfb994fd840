// The scanner exchange and the five queries.
#include "app/scanner.h"

#include "app/state.h"
#include "console/screen.h"
#include "platform/win32.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"
#include "serial/clock.h"
#include "serial/port.h"

const ScannerCommandSet scanner_commands = {
    {T("IDN"), T("VER"), T("LVL"), T("TUN"), T("SIG")},
    {T("A10"), T("B20")},
};

int32_t scanner_query(char* command, char* reply) {
    command = txt_unscramble(command);
    // Whatever is left over (late bytes of an earlier reply, line noise)
    // must not be taken for this command's answer. A pass holds four
    // exchanges between two looks at the keys, so 50 ms each keeps ESC
    // answered within well under 1.5 s on a port that never falls silent.
    port_drain(mon.port_number, 50);
    char line[8];
    txt_copy_n(line, command, 6);
    txt_append(line, txt_char(13));
    port_puts(mon.port_number, line);
    // The deadline is fixed: a scanner that trickles bytes cannot stretch it.
    int64_t deadline = ms_now() + 500;
    int32_t count = 0;
    for (;;) {
        if (ms_now() >= deadline) {
            txt_copy(reply, T("[timeout]"));
            return 1;
        }
        int32_t c = port_getc(mon.port_number);
        if (c < 0) {
            Sleep(1);
            continue;
        }
        if (c == 10) continue;  // line feeds may come anywhere, even inside a line
        if (c == 13) {
            reply[count] = 0;
            return 0;
        }
        if (++count == 128) {
            txt_copy(reply, T("[reply overflows]"));
            return 1;
        }
        reply[count - 1] = static_cast<char>(c);
    }
}

int32_t query_model(char* reply) {
    if (scanner_query(scanner_commands.codes[CMD_MODEL], reply)) return 1;
    mon.model_a = txt_find(reply, scanner_commands.model_texts[0]) ? 1 : 0;
    mon.model_b = txt_find(reply, scanner_commands.model_texts[1]) ? 1 : 0;
    return 0;
}

int32_t query_info(char* reply) { return scanner_query(scanner_commands.codes[CMD_INFO], reply); }

int32_t query_level(int32_t* level) {
    char reply[256];
    if (scanner_query(scanner_commands.codes[CMD_LEVEL], reply)) return 1;
    const char* comma = txt_find(reply, txt_char(','));
    int32_t n;
    if (comma == nullptr || num_parse(comma + 1, nullptr, &n) != 0) return 1;
    // Worked in 64 bits: a garbled reading must give a wrong level, not an
    // overflow. Model B's scaling always fits; model A's is held to 32 bits.
    int64_t scaled = 0;
    if (mon.model_a) scaled = int64_t(n) * 2;
    else if (mon.model_b) scaled = int64_t(n) * 640 / 1023;
    if (scaled > INT32_MAX) scaled = INT32_MAX;
    if (scaled < INT32_MIN) scaled = INT32_MIN;
    *level = static_cast<int32_t>(scaled);
    return 0;
}

int32_t query_tuning(char* reply) {
    if (scanner_query(scanner_commands.codes[CMD_TUNING], reply)) return 1;
    // "TUN,100,1462500" becomes "100 1462500", padded at the front to 12.
    int32_t n = txt_len(reply);
    if (n <= 4) reply[0] = 0;
    else mem_move(reply + 4, reply, n - 4 + 1);
    for (char* p = reply; *p; ++p)
        if (*p == ',') *p = ' ';
    n = txt_len(reply);
    if (n < 12) {
        mem_move(reply, reply + (12 - n), n + 1);
        for (int32_t i = 0; i < 12 - n; ++i) reply[i] = ' ';
    }
    return 0;
}

int32_t query_signal(char* reply) {
    if (scanner_query(scanner_commands.codes[CMD_SIGNAL], reply)) return 1;
    // The caller reads the number from the fifth character on: a reply that
    // ends before it has no number to read.
    if (txt_find(reply, scanner_commands.codes[CMD_SIGNAL]) == nullptr || txt_len(reply) < 5) return 1;
    // Drawn on every good reading, so the help follows a switch to Beep
    // output made by the tone thread.
    if (mon.sound_choice.load() == 0) scr_print(T("S beep mode  Esc quit       "), 0x17, 20, 4);
    else scr_print(T("Up/Dn vol  M mute  Esc quit "), 0x17, 20, 4);
    return 0;
}
