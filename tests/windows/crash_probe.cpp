// A Windows program for the crash report's test under wine: it installs the
// report, as the monitor does at start-up, and then faults in the way its
// argument names.
#include "runtime/crash.h"
#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"

namespace {
int* volatile null_pointer = nullptr;
volatile int zero = 0, numerator = 7, sink;

DWORD WINAPI read_through_null(LPVOID) {
    sink = null_pointer[8];
    return 0;
}
}  // namespace

int main() {
    std_init(1);
    crash_install(nullptr, 0, T("crash-report.txt"));
    char arguments[32768];
    program_path(nullptr, nullptr, arguments);
    const char* command = txt_skip_blanks(arguments);
    if (txt_compare_n(command, T("write"), 5) == 0) null_pointer[4] = 1;
    if (txt_compare_n(command, T("divide"), 6) == 0) sink = numerator / zero;
    if (txt_compare_n(command, T("thread"), 6) == 0)
        WaitForSingleObject(CreateThread(nullptr, 0, read_through_null, nullptr, 0, nullptr), INFINITE);
    out_print(std_err, T("usage: crash_probe write|divide|thread\n"));
    return 2;
}
