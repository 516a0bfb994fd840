// Real faults in child processes, reported through the POSIX layer's
// unhandled-exception filter: each child installs the crash report, faults,
// and must leave the report on error output and in the report file, run the
// exit hooks (which give the terminal back) and end with exit code 1.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
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
    const std::string err_path = std::string(dir) + "/err";
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
    c.report_file = read_file(std::string(dir) + "/crash-report.txt");
    std::filesystem::remove_all(dir);
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
const std::string kNoAccessLine = "(no Faulting access:)";

std::string instruction_pointer(const std::string& report) {
    size_t at = report.find(sizeof(void*) == 8 ? " RIP=" : " EIP=");
    return at == std::string::npos ? "(none)" : report.substr(at + 5, sizeof(void*) * 2);
}

// --- The faults ------------------------------------------------------------

void* volatile null_pointer = nullptr;
volatile int zero = 0, numerator = 7, sink;
void* volatile unreadable;  // pages mapped before the fork, so the parent knows them
void* volatile data_page;

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

DWORD WINAPI read_unreadable(LPVOID) { return static_cast<volatile char*>(unreadable)[0x20]; }
DWORD WINAPI overflow(LPVOID) { return static_cast<DWORD>(recurse(0)); }

struct Fault {
    const char* what;
    void (*body)();
    const char *code, *name;
    std::string access;   // how the access line begins
    std::string at = "";  // the exception address; empty: any but 0
};

// The whole report with the fault's code, name and access line, and the
// exception address in the instruction pointer of the registers too.
void expect_report_of(const Fault& f) {
    SCOPED_TRACE(f.what);
    Child c = run_child(f.body);
    expect_whole_report(c);
    EXPECT_EQ(field(c.err, "Exception code:"), f.code);
    EXPECT_EQ(field(c.err, "Exception:"), f.name);
    EXPECT_EQ(field(c.err, "Faulting access:").substr(0, f.access.size()), f.access);
    EXPECT_EQ(c.err.find("Further detail:") != std::string::npos, f.access.rfind("executing", 0) == 0) << c.err;
    const std::string at = field(c.err, "At address:");
    EXPECT_EQ(at, instruction_pointer(c.err));
    if (f.at.empty()) EXPECT_NE(at, hex(0));
    else EXPECT_EQ(at, f.at);
}

// --- The tests -------------------------------------------------------------

TEST(CrashBackend, EachFaultOnAnyThreadLeavesItsReportAndExitCodeOne) {
    unreadable = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    data_page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(unreadable, MAP_FAILED);
    ASSERT_NE(data_page, MAP_FAILED);
    const uintptr_t data = reinterpret_cast<uintptr_t>(data_page);
    const Fault faults[] = {
        {"a write through a null pointer", write_through_null, "C0000005", "access violation",
         "writing at address " + hex(0x10) + " (16)"},
        {"an integer division by zero", divide_by_zero, "C0000094", "integer divide by zero", kNoAccessLine},
        {"a read on a second thread", [] { on_thread<read_unreadable>(0); }, "C0000005", "access violation",
         "reading at address " + hex(reinterpret_cast<uintptr_t>(unreadable) + 0x20) + " ("},
        {"running data", [] { reinterpret_cast<void (*)()>(data_page)(); }, "C0000005", "access violation",
         "executing in non-executable memory at address " + hex(data) + " (", hex(data)},
        {"a stack overflow on a thread of CreateThread", [] { on_thread<overflow>(256 * 1024); }, "C00000FD",
         "stack overflow", kNoAccessLine}};
    for (const Fault& f : faults) expect_report_of(f);
    munmap(unreadable, 4096);
    munmap(data_page, 4096);
}

TEST(CrashBackend, AStackOverflowOnTheMainThreadToo) {
    struct rlimit stack;
    getrlimit(RLIMIT_STACK, &stack);
    if (stack.rlim_cur == RLIM_INFINITY || stack.rlim_cur > 64u << 20)
        GTEST_SKIP() << "the main stack may grow without a near limit here";
    expect_report_of({"a stack overflow on the main thread", [] { sink = recurse(0); }, "C00000FD", "stack overflow",
                     kNoAccessLine});
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

}  // namespace
