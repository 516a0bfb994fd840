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
#include <sys/ioctl.h>
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

std::string grouped(uint64_t v) {
    std::string digits = std::to_string(v);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

struct Child {
    int status = 0;
    std::string err;
    std::string report_file;  // empty when there is none
    bool exited_with(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// Runs body in a child with error output in a file and the report file in
// a directory of its own.
Child run_child(void (*body)()) {
    char dir[] = "/tmp/rxmon-crash-XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    std::string err_path = std::string(dir) + "/err", report_path = std::string(dir) + "/crash-report.txt";
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(err_path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        dup2(fd, 2);
        close(fd);
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
    Child c;
    waitpid(pid, &c.status, 0);
    c.err = read_file(err_path);
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

std::string register_value(const std::string& report, const std::string& name) {
    size_t at = report.find(" " + name + "=");
    if (at == std::string::npos) return "(no " + name + ")";
    at += name.size() + 2;
    return report.substr(at, report.find_first_not_of("0123456789ABCDEF", at) - at);
}

const char kIp[] = {sizeof(void*) == 8 ? 'R' : 'E', 'I', 'P', 0};

// --- The faults ------------------------------------------------------------

void* volatile null_pointer = nullptr;
volatile int zero = 0, numerator = 7, sink;
void* volatile protected_page;  // set before the fork, so the parent knows it

__attribute__((noinline)) void write_through_null() { static_cast<int*>(null_pointer)[4] = 1; }

__attribute__((noinline)) void divide_by_zero() { sink = numerator / zero; }

DWORD WINAPI read_protected_page(LPVOID) {
    sink = static_cast<volatile char*>(protected_page)[0x20];
    return 0;
}

void fault_on_second_thread() {
    HANDLE t = CreateThread(nullptr, 0, read_protected_page, nullptr, 0, nullptr);
    WaitForSingleObject(t, INFINITE);
}

__attribute__((noinline)) int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == -1) return 0;  // never: keeps the compiler from calling it endless
    return recurse(depth + 1) + frame[0];
}

void overflow_main_stack() { sink = recurse(0); }

DWORD WINAPI overflow_thread(LPVOID) {
    sink = recurse(0);
    return 0;
}

void overflow_second_thread_stack() {
    HANDLE t = CreateThread(nullptr, 256 * 1024, overflow_thread, nullptr, 0, nullptr);
    WaitForSingleObject(t, INFINITE);
}

void jump_into_data() { reinterpret_cast<void (*)()>(protected_page)(); }

// --- The tests -------------------------------------------------------------

TEST(CrashBackend, AWriteThroughANullPointerIsAnAccessViolationWritingItsAddress) {
    Child c = run_child(write_through_null);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), "C0000005");
    EXPECT_EQ(field(c.err, "Exception:"), "access violation");
    EXPECT_EQ(field(c.err, "Faulting access:"), "writing at address " + hex(0x10) + " (16)");
    EXPECT_EQ(field(c.err, "At address:"), register_value(c.err, kIp));
    EXPECT_NE(field(c.err, "At address:"), hex(0));
}

TEST(CrashBackend, AnIntegerDivisionByZeroHasNoAccessLine) {
    Child c = run_child(divide_by_zero);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), "C0000094");
    EXPECT_EQ(field(c.err, "Exception:"), "integer divide by zero");
    EXPECT_EQ(c.err.find("Faulting access"), std::string::npos);
    EXPECT_EQ(field(c.err, "At address:"), register_value(c.err, kIp));
}

class CrashOnPage : public ::testing::Test {
protected:
    void SetUp() override {
        protected_page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(protected_page, MAP_FAILED);
    }
    void TearDown() override { munmap(protected_page, 4096); }
    uintptr_t page() { return reinterpret_cast<uintptr_t>(protected_page); }
};

TEST_F(CrashOnPage, AFaultOnASecondThreadIsReportedFromThatThread) {
    mprotect(protected_page, 4096, PROT_NONE);
    Child c = run_child(fault_on_second_thread);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception:"), "access violation");
    EXPECT_EQ(field(c.err, "Faulting access:"),
              "reading at address " + hex(page() + 0x20) + " (" + grouped(page() + 0x20) + ")");
}

TEST_F(CrashOnPage, RunningDataIsAnExecutionFaultAtThePage) {
    Child c = run_child(jump_into_data);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception:"), "access violation");
    EXPECT_EQ(field(c.err, "At address:"), hex(page()));
    EXPECT_EQ(field(c.err, "Faulting access:").rfind("executing in non-executable memory at address " + hex(page()), 0),
              0u)
        << c.err;
    EXPECT_NE(c.err.find("Further detail:"), std::string::npos) << c.err;
}

TEST(CrashBackend, AStackOverflowOnTheMainThreadIsReportedFromItsAlternateStack) {
    struct rlimit stack;
    getrlimit(RLIMIT_STACK, &stack);
    if (stack.rlim_cur == RLIM_INFINITY || stack.rlim_cur > 64u << 20)
        GTEST_SKIP() << "the stack may grow without a near limit here";
    Child c = run_child(overflow_main_stack);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), "C00000FD");
    EXPECT_EQ(field(c.err, "Exception:"), "stack overflow");
}

TEST(CrashBackend, AStackOverflowOnAThreadOfCreateThreadIsReported) {
    Child c = run_child(overflow_second_thread_stack);
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
    std::string slave = ptsname(master);
    struct termios before;
    int s = open(slave.c_str(), O_RDWR | O_NOCTTY);
    tcgetattr(s, &before);
    char dir[] = "/tmp/rxmon-crash-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int t = open(slave.c_str(), O_RDWR);
        struct winsize size = {30, 100, 0, 0};
        ioctl(t, TIOCSWINSZ, &size);
        dup2(t, 0), dup2(t, 1), dup2(t, 2);
        if (chdir(dir) != 0) _exit(98);
        setenv("TERM", "xterm", 1);
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        std_init(1);
        crash_install(nullptr, 0, T("crash-report.txt"));
        scr_open(1, 20, 40);
        scr_print(T("taken over"), 0x1F, 1, 1);
        write_through_null();
        _exit(99);
    }
    close(s);
    std::string screen;
    char buffer[4096];
    struct pollfd p = {master, POLLIN, 0};
    while (poll(&p, 1, 10000) > 0) {
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO: the child and its terminal are gone
        screen.append(buffer, static_cast<size_t>(n));
    }
    int status;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;

    size_t entered = screen.find("\033[?1049h"), left = screen.rfind("\033[?1049l");
    ASSERT_NE(entered, std::string::npos) << "the screen was never taken over";
    ASSERT_NE(left, std::string::npos) << "the screen was not given back";
    size_t report = screen.find("access violation");
    EXPECT_NE(report, std::string::npos);
    EXPECT_GT(report, left) << "the report went to the full screen, which hides it";
    EXPECT_NE(screen.find("also written to crash-report.txt", left), std::string::npos);
    struct termios after;
    s = open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (s >= 0) {
        tcgetattr(s, &after);
        EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), before.c_lflag & (ICANON | ECHO | ISIG));
        close(s);
    }
    close(master);
    EXPECT_FALSE(read_file(std::string(dir) + "/crash-report.txt").empty());
    unlink((std::string(dir) + "/crash-report.txt").c_str());
    rmdir(dir);
}

#if defined(__x86_64__) || defined(__i386__)
void illegal_instruction() { __asm__ volatile("ud2"); }
void breakpoint() { __asm__ volatile("int3"); }

TEST(CrashBackend, IllegalInstructionsAndBreakpointsHaveTheirOwnNames) {
    Child c = run_child(illegal_instruction);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), "C000001D");
    c = run_child(breakpoint);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), "80000003");
    // As on Windows, the breakpoint's address is the int3 itself.
    auto at = std::stoull(field(c.err, "At address:"), nullptr, 16);
    EXPECT_EQ(*reinterpret_cast<const uint8_t*>(at), 0xCC);
}

// A filter that steps over the int3 resumes the thread where it stopped.
LONG WINAPI step_over_breakpoint(EXCEPTION_POINTERS* p) {
    if (p->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;
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
        breakpoint();
        _exit(7);
    });
    EXPECT_TRUE(c.exited_with(7)) << c.status << "\n" << c.err;
    EXPECT_EQ(c.err, "");
}
#endif

}  // namespace
