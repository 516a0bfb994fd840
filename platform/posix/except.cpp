// The unhandled-exception filter over POSIX signals.
//
// Map: each thread's alternate signal stack and the bounds of its own stack;
// the registers of the processor, in and out of a CONTEXT; signals and their
// codes mapped to exception codes; the signal handler, which calls the
// filter and, unless it resumes, gives the terminal back and ends the
// process by the signal itself; SetUnhandledExceptionFilter.
//
// Limits of the emulation:
// - The filter runs inside the signal handler. It may write and create files
//   (the crash report does), but after a fault inside the allocator, while
//   that held its lock, the filter would wait for the lock for ever when it
//   creates the report file.
// - Only threads started by CreateThread (and the main thread) get an
//   alternate stack; a stack overflow on any other thread ends the process
//   without a report. Other faults are reported on every thread.
// - The floating-point and vector state is not filled in.
// - Registers are filled in on x86 only; elsewhere they stay zero.
// - A protection fault that is no page fault (an address outside the
//   canonical range, a privileged instruction) is an access violation
//   reading the address with every bit set, as Windows reports the former.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace posix {

namespace {
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> installed_filter{nullptr};
std::atomic<bool> handlers_set{false};

// --- Stacks ---------------------------------------------------------------

// Room for the filter: the report formats into buffers of a few KiB.
constexpr size_t kAltStackSize = 64 * 1024;
// How far beyond the end of its stack a fault still counts as an overflow:
// Linux keeps a gap of this size below a main stack that grows.
constexpr uintptr_t kNearStackEnd = 1 << 20;

// Plain words, so that the handler reads them without running any code of
// the thread_local machinery.
thread_local void* alt_mapping = nullptr;
thread_local size_t alt_length = 0;
thread_local uintptr_t stack_low = 0, stack_high = 0;

struct AltStackRelease {
    ~AltStackRelease() {
        if (alt_mapping == nullptr) return;
        stack_t off = {};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(alt_mapping, alt_length);
        alt_mapping = nullptr;
    }
};

// A stack overflow: the fault address lies just beyond the end of the
// thread's stack (in its guard page, or in the gap below a main stack), or
// the stack pointer already does. The window reaches above the end too: the
// C library reports a main stack that meets a neighbouring mapping as
// reaching down to it, while the kernel stops its growth a gap earlier.
bool beyond_stack(uintptr_t address, uintptr_t sp) {
    if (stack_low == 0) return false;
    uintptr_t below = stack_low < kNearStackEnd ? stack_low : kNearStackEnd;
    uintptr_t above = stack_high - stack_low < kNearStackEnd ? stack_high - stack_low : kNearStackEnd;
    bool address_near = address >= stack_low - below && address < stack_low + above;
    bool sp_beyond = sp >= stack_low - below && sp < stack_low;
    return address_near || sp_beyond;
}

// --- Registers ------------------------------------------------------------

// What the handler needs beyond the CONTEXT: where the fault happened and
// what the processor said about it.
struct Machine {
    uintptr_t ip = 0, sp = 0;
    bool page_fault = true;  // unknown elsewhere than on x86: assume one
    uintptr_t error_code = 0;
};

#if defined(__x86_64__) || defined(__i386__)
constexpr int kPageFaultTrap = 14;
// Page-fault error code bits.
constexpr uintptr_t kFaultWrite = 0x2, kFaultFetch = 0x10;
#endif

#if defined(__x86_64__)
// The kernel sets this in uc_flags when the frame's fourth selector is SS.
constexpr unsigned long kSigcontextSs = 0x2;

WORD selector_ds() {
    WORD v;
    __asm__ volatile("movw %%ds, %0" : "=r"(v));
    return v;
}
WORD selector_es() {
    WORD v;
    __asm__ volatile("movw %%es, %0" : "=r"(v));
    return v;
}
WORD selector_ss() {
    WORD v;
    __asm__ volatile("movw %%ss, %0" : "=r"(v));
    return v;
}

Machine context_from(const ucontext_t* uc, CONTEXT* c) {
    const greg_t* g = uc->uc_mcontext.gregs;
    c->ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
    c->Rax = g[REG_RAX], c->Rbx = g[REG_RBX], c->Rcx = g[REG_RCX], c->Rdx = g[REG_RDX];
    c->Rsi = g[REG_RSI], c->Rdi = g[REG_RDI], c->Rbp = g[REG_RBP], c->Rsp = g[REG_RSP];
    c->R8 = g[REG_R8], c->R9 = g[REG_R9], c->R10 = g[REG_R10], c->R11 = g[REG_R11];
    c->R12 = g[REG_R12], c->R13 = g[REG_R13], c->R14 = g[REG_R14], c->R15 = g[REG_R15];
    c->Rip = g[REG_RIP];
    c->EFlags = static_cast<DWORD>(g[REG_EFL]);
    uint64_t csgsfs = static_cast<uint64_t>(g[REG_CSGSFS]);
    c->SegCs = static_cast<WORD>(csgsfs);
    c->SegGs = static_cast<WORD>(csgsfs >> 16);
    c->SegFs = static_cast<WORD>(csgsfs >> 32);
    // The frame has no DS and ES, and SS only on newer kernels; a signal
    // changes none of them, so the handler's own are the faulting thread's.
    c->SegSs = (uc->uc_flags & kSigcontextSs) ? static_cast<WORD>(csgsfs >> 48) : selector_ss();
    c->SegDs = selector_ds();
    c->SegEs = selector_es();
    Machine m;
    m.ip = c->Rip;
    m.sp = c->Rsp;
    m.page_fault = g[REG_TRAPNO] == kPageFaultTrap;
    m.error_code = static_cast<uintptr_t>(g[REG_ERR]);
    return m;
}

void context_to(const CONTEXT* c, ucontext_t* uc) {
    greg_t* g = uc->uc_mcontext.gregs;
    g[REG_RAX] = c->Rax, g[REG_RBX] = c->Rbx, g[REG_RCX] = c->Rcx, g[REG_RDX] = c->Rdx;
    g[REG_RSI] = c->Rsi, g[REG_RDI] = c->Rdi, g[REG_RBP] = c->Rbp, g[REG_RSP] = c->Rsp;
    g[REG_R8] = c->R8, g[REG_R9] = c->R9, g[REG_R10] = c->R10, g[REG_R11] = c->R11;
    g[REG_R12] = c->R12, g[REG_R13] = c->R13, g[REG_R14] = c->R14, g[REG_R15] = c->R15;
    g[REG_RIP] = c->Rip;
    g[REG_EFL] = c->EFlags;
}

void set_ip(CONTEXT* c, uintptr_t ip) { c->Rip = ip; }

#elif defined(__i386__)
Machine context_from(const ucontext_t* uc, CONTEXT* c) {
    const greg_t* g = uc->uc_mcontext.gregs;
    c->ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
    c->Eax = g[REG_EAX], c->Ebx = g[REG_EBX], c->Ecx = g[REG_ECX], c->Edx = g[REG_EDX];
    c->Esi = g[REG_ESI], c->Edi = g[REG_EDI], c->Ebp = g[REG_EBP], c->Esp = g[REG_UESP];
    c->Eip = g[REG_EIP];
    c->EFlags = g[REG_EFL];
    c->SegCs = g[REG_CS] & 0xFFFF, c->SegSs = g[REG_SS] & 0xFFFF;
    c->SegDs = g[REG_DS] & 0xFFFF, c->SegEs = g[REG_ES] & 0xFFFF;
    c->SegFs = g[REG_FS] & 0xFFFF, c->SegGs = g[REG_GS] & 0xFFFF;
    Machine m;
    m.ip = c->Eip;
    m.sp = c->Esp;
    m.page_fault = g[REG_TRAPNO] == kPageFaultTrap;
    m.error_code = static_cast<uintptr_t>(g[REG_ERR]);
    return m;
}

void context_to(const CONTEXT* c, ucontext_t* uc) {
    greg_t* g = uc->uc_mcontext.gregs;
    g[REG_EAX] = c->Eax, g[REG_EBX] = c->Ebx, g[REG_ECX] = c->Ecx, g[REG_EDX] = c->Edx;
    g[REG_ESI] = c->Esi, g[REG_EDI] = c->Edi, g[REG_EBP] = c->Ebp, g[REG_UESP] = c->Esp;
    g[REG_EIP] = c->Eip;
    g[REG_EFL] = c->EFlags;
}

void set_ip(CONTEXT* c, uintptr_t ip) { c->Eip = static_cast<DWORD>(ip); }

#else
Machine context_from(const ucontext_t*, CONTEXT*) { return Machine(); }
void context_to(const CONTEXT*, ucontext_t*) {}
void set_ip(CONTEXT*, uintptr_t) {}
#endif

// --- Exception codes ------------------------------------------------------

ULONG_PTR access_kind(const Machine& m) {
#if defined(__x86_64__) || defined(__i386__)
    if (m.error_code & kFaultFetch) return EXCEPTION_EXECUTE_FAULT;
    if (m.error_code & kFaultWrite) return EXCEPTION_WRITE_FAULT;
#endif
    (void)m;
    return EXCEPTION_READ_FAULT;
}

// Fills the record as Windows would for the same fault. Element 2 of the
// information, which Windows gives an in-page error's status, carries the
// processor's page-fault error code.
void describe(int sig, const siginfo_t* info, Machine* m, CONTEXT* c, EXCEPTION_RECORD* r) {
    // A signal sent by kill or raise comes from no fault: there is no data
    // address, and what the frame says about the last trap is stale.
    const bool sent = info->si_code <= 0;
    if (sent) m->error_code = 0;
    auto address = sent ? 0 : reinterpret_cast<uintptr_t>(info->si_addr);
    r->ExceptionAddress = reinterpret_cast<PVOID>(m->ip);
    auto access = [&](DWORD code, uintptr_t data) {
        r->ExceptionCode = code;
        r->NumberParameters = 3;
        r->ExceptionInformation[0] = access_kind(*m);
        r->ExceptionInformation[1] = data;
        r->ExceptionInformation[2] = m->error_code;
    };
    switch (sig) {
        case SIGSEGV: {
            uintptr_t data = sent || m->page_fault ? address : ~uintptr_t(0);
            bool overflow = !sent && beyond_stack(data, m->sp);
            access(overflow ? EXCEPTION_STACK_OVERFLOW : EXCEPTION_ACCESS_VIOLATION, data);
            break;
        }
        case SIGBUS:
            if (info->si_code == BUS_ADRALN) r->ExceptionCode = EXCEPTION_DATATYPE_MISALIGNMENT;
            else access(EXCEPTION_IN_PAGE_ERROR, address);
            break;
        case SIGFPE:
            switch (info->si_code) {
                case FPE_INTDIV: r->ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO; break;
                case FPE_INTOVF: r->ExceptionCode = EXCEPTION_INT_OVERFLOW; break;
                case FPE_FLTDIV: r->ExceptionCode = EXCEPTION_FLT_DIVIDE_BY_ZERO; break;
                case FPE_FLTOVF: r->ExceptionCode = EXCEPTION_FLT_OVERFLOW; break;
                case FPE_FLTUND: r->ExceptionCode = EXCEPTION_FLT_UNDERFLOW; break;
                case FPE_FLTRES: r->ExceptionCode = EXCEPTION_FLT_INEXACT_RESULT; break;
                case FPE_FLTSUB: r->ExceptionCode = EXCEPTION_ARRAY_BOUNDS_EXCEEDED; break;
                default: r->ExceptionCode = EXCEPTION_FLT_INVALID_OPERATION; break;
            }
            break;
        case SIGILL:
            r->ExceptionCode = info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? EXCEPTION_PRIV_INSTRUCTION
                                                                                        : EXCEPTION_ILLEGAL_INSTRUCTION;
            break;
        case SIGTRAP:
            r->ExceptionCode = info->si_code == TRAP_TRACE ? EXCEPTION_SINGLE_STEP : EXCEPTION_BREAKPOINT;
#if defined(__x86_64__) || defined(__i386__)
            // Linux stops behind an int3, Windows on it: a filter that
            // resumes must step over it itself, as on Windows.
            if (info->si_code == SI_KERNEL && *reinterpret_cast<const uint8_t*>(m->ip - 1) == 0xCC) {
                m->ip -= 1;
                set_ip(c, m->ip);
                r->ExceptionAddress = reinterpret_cast<PVOID>(m->ip);
            }
#endif
            break;
    }
}

// --- The handler ----------------------------------------------------------

[[noreturn]] void end_by_signal(int sig) {
    struct sigaction plain;
    memset(&plain, 0, sizeof plain);
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(sig, &plain, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

void on_fault(int sig, siginfo_t* info, void* ucontext) {
    int saved_errno = errno;
    auto* uc = static_cast<ucontext_t*>(ucontext);
    if (LPTOP_LEVEL_EXCEPTION_FILTER filter = installed_filter.load()) {
        EXCEPTION_RECORD record;
        CONTEXT context;
        memset(&record, 0, sizeof record);
        memset(&context, 0, sizeof context);
        Machine m = context_from(uc, &context);
        describe(sig, info, &m, &context, &record);
        EXCEPTION_POINTERS pointers = {&record, &context};
        if (filter(&pointers) == EXCEPTION_CONTINUE_EXECUTION) {
            context_to(&context, uc);
            errno = saved_errno;
            return;
        }
    }
    // Like Windows after its filter: the process ends by the exception.
    run_exit_hooks();
    end_by_signal(sig);
}

void set_handlers() {
    if (handlers_set.exchange(true)) return;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_fault;
    // SA_NODEFER: a fault inside the filter enters it again, where the
    // crash report's re-entry flag ends the process, instead of the kernel
    // killing it without a word.
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP}) sigaction(sig, &sa, nullptr);
}

struct PrepareMainThread {
    PrepareMainThread() { prepare_thread_for_faults(); }
} prepare_main_thread;
}  // namespace

void prepare_thread_for_faults() {
    if (alt_mapping != nullptr) return;
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t length = kAltStackSize + page;
    void* m = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (m == MAP_FAILED) return;
    // The filter overrunning its stack then faults, rather than writing
    // into whatever lies below.
    mprotect(m, page, PROT_NONE);
    stack_t ss = {};
    ss.ss_sp = static_cast<char*>(m) + page;
    ss.ss_size = kAltStackSize;
    if (sigaltstack(&ss, nullptr) != 0) {
        munmap(m, length);
        return;
    }
    alt_mapping = m;
    alt_length = length;
    static thread_local AltStackRelease release;
    (void)release;

    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low;
        size_t size;
        if (pthread_attr_getstack(&attr, &low, &size) == 0) {
            stack_low = reinterpret_cast<uintptr_t>(low);
            stack_high = stack_low + size;
        }
        pthread_attr_destroy(&attr);
    }
}

}  // namespace posix

extern "C" {

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    posix::prepare_thread_for_faults();
    posix::set_handlers();
    return posix::installed_filter.exchange(filter);
}

}  // extern "C"
