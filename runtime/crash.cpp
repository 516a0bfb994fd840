// The unhandled-exception filter and the report it writes. It runs on the
// thread that faulted, while the others keep running, and takes no lock.
#include "runtime/crash.h"

#include "platform/context.h"
#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"

DWORD crash_delay = 0;
const char* crash_file_name = nullptr;
std::atomic<int16_t> crash_running{0};

namespace {
struct ExceptionName {
    DWORD code;
    const char* name;
};

const ExceptionName exception_names[23] = {
    {EXCEPTION_GUARD_PAGE, T("guard page violation")},
    {EXCEPTION_DATATYPE_MISALIGNMENT, T("datatype misalignment")},
    {EXCEPTION_BREAKPOINT, T("breakpoint")},
    {EXCEPTION_SINGLE_STEP, T("single step")},
    {EXCEPTION_ACCESS_VIOLATION, T("access violation")},
    {EXCEPTION_IN_PAGE_ERROR, T("in-page error")},
    {EXCEPTION_INVALID_HANDLE, T("invalid handle")},
    {EXCEPTION_ILLEGAL_INSTRUCTION, T("illegal instruction")},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, T("non-continuable exception")},
    {EXCEPTION_INVALID_DISPOSITION, T("invalid disposition")},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, T("array bounds exceeded")},
    {EXCEPTION_FLT_DENORMAL_OPERAND, T("floating-point denormal operand")},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, T("floating-point divide by zero")},
    {EXCEPTION_FLT_INEXACT_RESULT, T("floating-point inexact result")},
    {EXCEPTION_FLT_INVALID_OPERATION, T("floating-point invalid operation")},
    {EXCEPTION_FLT_OVERFLOW, T("floating-point overflow")},
    {EXCEPTION_FLT_STACK_CHECK, T("floating-point stack check")},
    {EXCEPTION_FLT_UNDERFLOW, T("floating-point underflow")},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, T("integer divide by zero")},
    {EXCEPTION_INT_OVERFLOW, T("integer overflow")},
    {EXCEPTION_PRIV_INSTRUCTION, T("privileged instruction")},
    {EXCEPTION_STACK_OVERFLOW, T("stack overflow")},
    {CONTROL_C_EXIT, T("control-C exit")},
};

const char* exception_name(DWORD code) {
    for (const ExceptionName& e : exception_names)
        if (e.code == code) return e.name;
    return T("unknown");
}

const char* access_kind_name(ULONG_PTR kind) {
    switch (kind) {
        case EXCEPTION_READ_FAULT: return T("reading");
        case EXCEPTION_WRITE_FAULT: return T("writing");
        case EXCEPTION_EXECUTE_FAULT: return T("executing in non-executable memory");
        default: return T("an unknown access");
    }
}

int set_priority(DWORD priority_class) { return SetPriorityClass(GetCurrentProcess(), priority_class) ? 0 : 1; }
}  // namespace

int priority_normal() { return set_priority(NORMAL_PRIORITY_CLASS); }
int priority_high() { return set_priority(HIGH_PRIORITY_CLASS); }

LPTOP_LEVEL_EXCEPTION_FILTER crash_install(LPTOP_LEVEL_EXCEPTION_FILTER filter, DWORD delay, const char* file_name) {
    crash_delay = delay;
    crash_file_name = file_name;
    return SetUnhandledExceptionFilter(filter ? filter : crash_filter);
}

void crash_report(HANDLE handle, const EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const ContextRegisters r = context_registers(pointers->ContextRecord);
    const int32_t w = r.digits;
    const char p = r.prefix;

    out_print(handle, T("rxmon ended on an unhandled exception\n"));
    out_printf(handle, T("  Exception code:  %08x\n"), record->ExceptionCode);
    out_printf(handle, T("  Exception:       %s\n"), exception_name(record->ExceptionCode));
    out_printf(handle, T("  At address:      %0*~x\n"), w, record->ExceptionAddress);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION || record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR) {
        const ULONG_PTR kind = record->ExceptionInformation[0];
        const ULONG_PTR data = record->ExceptionInformation[1];
        out_printf(handle, T("  Faulting access: %s at address %0*~x (%;~u)\n"), access_kind_name(kind), w, data, data);
        if (kind == EXCEPTION_EXECUTE_FAULT)
            out_printf(handle, T("  Further detail:  %~x\n"), record->ExceptionInformation[2]);
    }
    out_print(handle, T("  Registers:\n"));
    const uint64_t* v = r.value;
    out_printf(handle, T("    DS=%0*~x   CS=%0*~x  %sIP=%0*~x  %sAX=%0*~x\n"), w, v[0], w, v[1], p, w, v[2], p, w,
               v[3]);
    out_printf(handle, T("    ES=%0*~x   SS=%0*~x  %sSP=%0*~x  %sBX=%0*~x\n"), w, v[4], w, v[5], p, w, v[6], p, w,
               v[7]);
    out_printf(handle, T("    FS=%0*~x  EFL=%0*~x  %sBP=%0*~x  %sCX=%0*~x\n"), w, v[8], w, v[9], p, w, v[10], p, w,
               v[11]);
    out_printf(handle, T("    GS=%0*~x  %sSI=%0*~x  %sDI=%0*~x  %sDX=%0*~x\n"), w, v[12], p, w, v[13], p, w, v[14], p,
               w, v[15]);
    out_print(handle, T("Please report this, with what rxmon was doing then.\n"));
}

LONG WINAPI crash_filter(EXCEPTION_POINTERS* pointers) {
    priority_normal();
    // A fault while reporting: whatever the first entry got out must do.
    if (crash_running.exchange(1)) ExitProcess(1);

    out_print(std_err, T("\n\n"));
    Sleep(crash_delay);
    crash_report(std_err, pointers);
    if (crash_file_name) {
        HANDLE file;
        file_create(crash_file_name, 0, &file);
        crash_report(file, pointers);
        file_close(file);
        out_printf(std_err, T("The crash report was also written to %s.\n"), crash_file_name);
    }
    out_print(std_err, T("\n\n"));
    Sleep(crash_delay);
    ExitProcess(1);
}
