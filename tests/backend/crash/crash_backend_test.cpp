// Real faults in child processes, reported through the POSIX layer's
// unhandled-exception filter: each child installs the crash report, faults,
// and must leave the report on error output and in the report file, run the
// exit hooks (which give the terminal back) and end with exit code 1.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "console/screen.h"
#include "platform/posix/handle.h"
#include "runtime/crash.h"
#include "runtime/out.h"
#include "runtime/txt.h"

namespace {

const char kHooksRan[] = "exit hooks ran\n";

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string hex(uintptr_t v) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%0*llX", static_cast<int>(sizeof(void*) * 2), static_cast<unsigned long long>(v));
    return buffer;
}

struct Child {
    int status = 0;
    std::string err;          // error output, or all the terminal showed
    std::string report_file;  // empty when there is none
    bool exited_with(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// Runs body in a child whose report file goes to a directory of its own and
// whose error output goes to a file, or, given a pseudo-terminal's master,
// whose standard handles are that terminal.
Child run_child(void (*body)(), int master = -1) {
    char dir[] = "/tmp/rxmon-crash-XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    std::string err_path = std::string(dir) + "/err", report_path = std::string(dir) + "/crash-report.txt";
    pid_t pid = fork();
    if (pid == 0) {
        if (master >= 0) {
            setsid();
            int t = open(ptsname(master), O_RDWR);
            dup2(t, 0), dup2(t, 1), dup2(t, 2);
            setenv("TERM", "xterm", 1);
        } else {
            int fd = open(err_path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            dup2(fd, 2);
        }
        if (chdir(dir) != 0) _exit(98);
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        std_init(1);
        crash_install(nullptr, 0, T("crash-report.txt"));
        posix::at_exit([] {
            if (write(2, kHooksRan, sizeof kHooksRan - 1) < 0) _exit(97);
        });
        body();
        _exit(99);  // the fault did not end the process
    }
    // The terminal is read while the child runs, so that it never waits on
    // a full terminal; a child that hangs is ended after ten seconds.
    Child c;
    auto drain = [&](int ms) {
        char buffer[4096];
        struct pollfd p = {master, POLLIN, 0};
        ssize_t n;
        while (poll(&p, 1, ms) > 0 && (n = read(master, buffer, sizeof buffer)) > 0)
            c.err.append(buffer, static_cast<size_t>(n));
    };
    for (int waited = 0; waitpid(pid, &c.status, WNOHANG) == 0; waited += 10) {
        if (waited == 10000) kill(pid, SIGKILL);
        if (master >= 0) drain(10);
        else usleep(10000);
    }
    if (master >= 0) drain(0);
    else c.err = read_file(err_path);
    c.report_file = read_file(report_path);
    unlink(err_path.c_str());
    unlink(report_path.c_str());
    rmdir(dir);
    return c;
}

// The report stands framed on error output, the file holds the same, the
// hooks ran after it, and the exit code is 1.
void expect_whole_report(const Child& c) {
    EXPECT_TRUE(c.exited_with(1)) << "status " << c.status << "\n" << c.err;
    ASSERT_FALSE(c.report_file.empty()) << c.err;
    EXPECT_EQ(c.err, "\r\n\r\n" + c.report_file + "The crash report was also written to crash-report.txt.\r\n\r\n\r\n" +
                         kHooksRan);
}

// The text behind a label of the report, to the end of its line.
std::string field(const std::string& report, const std::string& label) {
    size_t at = report.find("  " + label);
    if (at == std::string::npos) return "(no " + label + ")";
    at = report.find_first_not_of(' ', at + 2 + label.size());
    return report.substr(at, report.find("\r\n", at) - at);
}

std::string instruction_pointer(const std::string& report) {
    size_t at = report.find(sizeof(void*) == 8 ? " RIP=" : " EIP=");
    return at == std::string::npos ? "(none)" : report.substr(at + 5, sizeof(void*) * 2);
}

// --- The faults ------------------------------------------------------------

void* volatile null_pointer = nullptr;
volatile int zero = 0, numerator = 7, sink;
void* volatile page;  // mapped before the fork, so the parent knows it

__attribute__((noinline)) void write_through_null() { static_cast<int*>(null_pointer)[4] = 1; }

// The sanitizer would stop the program before the processor faults.
__attribute__((noinline, no_sanitize("undefined"))) void divide_by_zero() { sink = numerator / zero; }

__attribute__((noinline)) int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == -1) return 0;  // never: keeps the compiler from calling it endless
    return recurse(depth + 1) + frame[0];
}

// Runs fn on a thread of CreateThread with a stack of the given size.
template <DWORD (*fn)(LPVOID)>
void on_thread(SIZE_T stack) {
    WaitForSingleObject(CreateThread(nullptr, stack, fn, nullptr, 0, nullptr), INFINITE);
}

DWORD WINAPI read_page(LPVOID) { return static_cast<volatile char*>(page)[0x20]; }
DWORD WINAPI overflow(LPVOID) { return static_cast<DWORD>(recurse(0)); }

// --- The tests -------------------------------------------------------------

TEST(CrashBackend, AWriteThroughANullPointerIsAnAccessViolationWritingItsAddress) {
    Child c = run_child(write_through_null);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), "C0000005");
    EXPECT_EQ(field(c.err, "Exception:"), "access violation");
    EXPECT_EQ(field(c.err, "Faulting access:"), "writing at address " + hex(0x10) + " (16)");
    EXPECT_EQ(field(c.err, "At address:"), instruction_pointer(c.err));
    EXPECT_NE(field(c.err, "At address:"), hex(0));
}

TEST(CrashBackend, AnIntegerDivisionByZeroHasNoAccessLine) {
    Child c = run_child(divide_by_zero);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), "C0000094");
    EXPECT_EQ(field(c.err, "Exception:"), "integer divide by zero");
    EXPECT_EQ(c.err.find("Faulting access"), std::string::npos);
    EXPECT_EQ(field(c.err, "At address:"), instruction_pointer(c.err));
}

class CrashOnPage : public ::testing::Test {
protected:
    void SetUp() override {
        page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(page, MAP_FAILED);
    }
    void TearDown() override { munmap(page, 4096); }
    uintptr_t at(uintptr_t offset) { return reinterpret_cast<uintptr_t>(page) + offset; }
};

TEST_F(CrashOnPage, AFaultOnASecondThreadIsReportedFromThatThread) {
    mprotect(page, 4096, PROT_NONE);
    Child c = run_child([] { on_thread<read_page>(0); });
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception:"), "access violation");
    EXPECT_EQ(field(c.err, "Faulting access:").rfind("reading at address " + hex(at(0x20)) + " (", 0), 0u) << c.err;
}

TEST_F(CrashOnPage, RunningDataIsAnExecutionFaultAtThePage) {
    Child c = run_child([] { reinterpret_cast<void (*)()>(page)(); });
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "At address:"), hex(at(0)));
    EXPECT_EQ(field(c.err, "Faulting access:").rfind("executing in non-executable memory at address " + hex(at(0)), 0),
              0u)
        << c.err;
    EXPECT_NE(c.err.find("Further detail:"), std::string::npos) << c.err;
}

TEST(CrashBackend, AStackOverflowIsReportedOnTheMainThreadAndOnAThreadOfCreateThread) {
    Child c = run_child([] { on_thread<overflow>(256 * 1024); });
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), "C00000FD");
    EXPECT_EQ(field(c.err, "Exception:"), "stack overflow");

    struct rlimit stack;
    getrlimit(RLIMIT_STACK, &stack);
    if (stack.rlim_cur == RLIM_INFINITY || stack.rlim_cur > 64u << 20)
        GTEST_SKIP() << "the main stack may grow without a near limit here";
    c = run_child([] { sink = recurse(0); });
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception:"), "stack overflow");
}

TEST(CrashBackend, WithTheFilterRemovedTheFaultEndsTheProcessAfterTheExitHooks) {
    Child c = run_child([] {
        SetUnhandledExceptionFilter(nullptr);
        write_through_null();
    });
    EXPECT_TRUE(WIFSIGNALED(c.status) && WTERMSIG(c.status) == SIGSEGV) << c.status;
    EXPECT_EQ(c.err, kHooksRan);
    EXPECT_TRUE(c.report_file.empty());
}

TEST(CrashBackend, OnATakenOverTerminalTheReportShowsOnceTheTerminalIsGivenBack) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);  // keeps its settings readable
    struct termios before, after;
    tcgetattr(slave, &before);
    Child c = run_child(
        [] {
            scr_open(1, 20, 40);
            scr_print(T("taken over"), 0x1F, 1, 1);
            write_through_null();
        },
        master);
    tcgetattr(slave, &after);
    close(slave);
    close(master);

    EXPECT_TRUE(c.exited_with(1)) << c.status;
    EXPECT_FALSE(c.report_file.empty());
    size_t entered = c.err.find("\033[?1049h"), left = c.err.rfind("\033[?1049l");
    ASSERT_NE(entered, std::string::npos) << "the screen was never taken over";
    ASSERT_NE(left, std::string::npos) << "the screen was not given back";
    EXPECT_NE(c.err.find("access violation", left), std::string::npos) << "the report is hidden with the full screen";
    EXPECT_NE(c.err.find("also written to crash-report.txt", left), std::string::npos);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), before.c_lflag & (ICANON | ECHO | ISIG));
}

#if defined(__x86_64__) || defined(__i386__)
// A filter that steps over the int3 resumes the thread behind it. That it
// must step over it at all shows the breakpoint's address to be the int3
// itself, as on Windows.
LONG WINAPI step_over_breakpoint(EXCEPTION_POINTERS* p) {
    if (p->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;
    if (*static_cast<uint8_t*>(p->ExceptionRecord->ExceptionAddress) != 0xCC) _exit(5);
#if defined(__x86_64__)
    p->ContextRecord->Rip += 1;
#else
    p->ContextRecord->Eip += 1;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(CrashBackend, AFilterThatResumesContinuesBehindTheBreakpoint) {
    Child c = run_child([] {
        crash_install(step_over_breakpoint, 0, nullptr);
        __asm__ volatile("int3");
        _exit(7);
    });
    EXPECT_TRUE(c.exited_with(7)) << c.status << "\n" << c.err;
    EXPECT_EQ(c.err, "");
}
#endif

}  // namespace
