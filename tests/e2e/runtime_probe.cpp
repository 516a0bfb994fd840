// A small program on the runtime alone, for the end-to-end tests: it prints
// through the console routines, stops through fatal, or asks for memory, as
// its first argument says, so a test can watch exit codes, both outputs and
// the texts in the binary without any test framework inside it.
#include "console/mem.h"
#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"

int main() {
    std_init(1);
    char arguments[32768];
    program_path(nullptr, nullptr, arguments);
    const char* command = txt_skip_blanks(arguments);
    if (txt_compare_n(command, T("print"), 5) == 0) {
        con_printf(T("%i %s, %,i bytes\n"), 3, T("texts"), 123456);
        prog_exit(0);
    }
    if (txt_compare_n(command, T("fatal"), 5) == 0) fatal(T("Asked to stop (%s).\n"), command);
    if (txt_compare_n(command, T("memory"), 6) == 0) {
        auto* p = static_cast<char*>(mem_alloc(100));
        p[4095] = 1;
        mem_free(p);
        mem_free(p);  // a second release stops the program
    }
    char hex[32];
    fmt_format(hex, T("%x"), 0xBEEF);
    out_printf(std_err, T("usage: runtime_probe print|fatal|memory (%s)\n"), hex);
    return 2;
}
