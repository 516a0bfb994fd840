// A small program on the runtime, for the end-to-end tests and, built for
// Windows, for those under wine: it prints through the console routines,
// stops through fatal, asks for memory, or faults with the crash report
// installed, as its first argument says, so a test can watch exit codes,
// both outputs, the report and the texts in the binary.
#include "console/mem.h"
#include "console/screen.h"
#include "runtime/crash.h"
#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"

namespace {
int* volatile null_pointer = nullptr;
volatile int zero = 0, numerator = 7, sink;
char data_bytes[16];  // not executable

__attribute__((noinline)) int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == -1) return 0;  // never: keeps the compiler from calling it endless
    return recurse(depth + 1) + frame[0];
}
DWORD WINAPI read_through_null(LPVOID) { return static_cast<DWORD>(null_pointer[8]); }
DWORD WINAPI overflow(LPVOID) { return static_cast<DWORD>(recurse(0)); }
void on_thread(LPTHREAD_START_ROUTINE fn, SIZE_T stack) {
    WaitForSingleObject(CreateThread(nullptr, stack, fn, nullptr, 0, nullptr), INFINITE);
}
}  // namespace

int main() {
    std_init(1);
    crash_install(nullptr, 0, T("crash-report.txt"));
    char arguments[32768];
    program_path(nullptr, nullptr, arguments);
    const char* command = txt_skip_blanks(arguments);
    auto is = [command](const char* word) { return txt_compare_n(command, word, txt_len(word)) == 0; };
    if (is(T("print"))) {
        con_printf(T("%i %s, %,i bytes\n"), 3, T("texts"), 123456);
        prog_exit(0);
    }
    if (is(T("fatal"))) fatal(T("Asked to stop (%s).\n"), command);
    if (is(T("memory"))) {
        auto* p = static_cast<char*>(mem_alloc(100));
        p[4095] = 1;
        mem_free(p);
        mem_free(p);  // a second release stops the program
    }
    if (is(T("screen"))) scr_open(1, 20, 40), scr_print(T("taken over"), 0x1F, 1, 1);
    if (is(T("write")) || is(T("screen"))) null_pointer[4] = 1;
    if (is(T("divide"))) sink = numerator / zero;
    if (is(T("thread"))) on_thread(read_through_null, 0);
    if (is(T("execute"))) reinterpret_cast<void (*)()>(static_cast<void*>(data_bytes))();
    if (is(T("stack"))) sink = recurse(0);
    if (is(T("overflow"))) on_thread(overflow, 256 * 1024);
    out_printf(std_err, T("usage: runtime_probe MODE (%x)\n"), 2);
    return 2;
}
