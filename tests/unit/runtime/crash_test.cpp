// The crash report and the unhandled-exception filter over the recording
// fake: what the report says for each kind of exception, and how the filter
// frames it, writes the report file and ends the process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/crash.h"
#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "tests/fake/fake.h"
#include "tests/fake/fake_except.h"

namespace {

std::string hex(uint64_t v, int digits = static_cast<int>(sizeof(void*) * 2)) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%0*llX", digits, static_cast<unsigned long long>(v));
    return buffer;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CrashReport : public ::testing::Test {
protected:
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    EXCEPTION_POINTERS pointers{&record, &context};

    void SetUp() override {
        fresh_fake();
        crash_install(nullptr, 0, nullptr);
        record.ExceptionAddress = reinterpret_cast<PVOID>(0x401A2B);
    }
    static void fresh_fake() {
        fake::reset();
        name_table_clear();
        dual_output = -1;
        short_write_report = 1;
        std_init(1);
        crash_running = 0;
    }
    std::string err() { return fake::written[std_err]; }

    std::string report(DWORD code, ULONG_PTR kind = 0, ULONG_PTR data = 0, ULONG_PTR extra = 0) {
        record.ExceptionCode = code;
        record.NumberParameters = 3;
        record.ExceptionInformation[0] = kind;
        record.ExceptionInformation[1] = data;
        record.ExceptionInformation[2] = extra;
        fake::written.clear();
        crash_report(std_err, &pointers);
        return err();
    }

    // Runs the filter to its end; the exit code it ended with.
    int run_filter() {
        try {
            crash_filter(&pointers);
        } catch (const fake::Exit& e) {
            return e.code;
        }
        ADD_FAILURE() << "the filter returned";
        return -1;
    }
};

TEST_F(CrashReport, OnlyAccessViolationsAndInPageErrorsHaveAnAccessLineBetweenAddressAndRegisters) {
    const struct { DWORD code; ULONG_PTR kind, data; std::string name, access; } cases[] = {
        {0xC0000005, 1, 0x1234, "access violation", "writing at address " + hex(0x1234) + " (4,660)\r\n"},
        {0xC0000005, 8, 0x7000, "access violation",
         "executing in non-executable memory at address " + hex(0x7000) + " (28,672)\r\n  Further detail:  15\r\n"},
        {0xC0000005, 5, 16, "access violation", "an unknown access at address " + hex(16) + " (16)\r\n"},
        {0xC0000006, 0, 0xB00000, "in-page error", "reading at address " + hex(0xB00000) + " (11,534,336)\r\n"},
        {0xC0000094, 1, 0x1234, "integer divide by zero", ""},
        {0xC00000FD, 1, 0x1234, "stack overflow", ""},
        {0xE06D7363, 1, 0x1234, "unknown", ""},
        {0, 1, 0x1234, "unknown", ""}};
    for (const auto& c : cases) {
        const std::string access = c.access.empty() ? "" : "  Faulting access: " + c.access;
        std::string r = report(c.code, c.kind, c.data, 0x15);
        EXPECT_TRUE(has(r, "  Exception code:  " + hex(c.code, 8) + "\r\n  Exception:       " + c.name +
                               "\r\n  At address:      " + hex(0x401A2B) + "\r\n" + access + "  Registers:\r\n"))
            << r;
    }
}

TEST_F(CrashReport, EachExceptionCodeOfWindowsInTheTableHasANameOfItsOwn) {
    const DWORD codes[] = {0x80000001, 0x80000002, 0x80000003, 0x80000004, 0xC0000005, 0xC0000006,
                           0xC0000008, 0xC000001D, 0xC0000025, 0xC0000026, 0xC000008C, 0xC000008D,
                           0xC000008E, 0xC000008F, 0xC0000090, 0xC0000091, 0xC0000092, 0xC0000093,
                           0xC0000094, 0xC0000095, 0xC0000096, 0xC00000FD, 0xC000013A};
    const std::string label = "  Exception:       ";
    std::set<std::string> names;
    for (DWORD code : codes) {
        std::string r = report(code);
        size_t at = r.find(label) + label.size();
        names.insert(r.substr(at, r.find("\r\n", at) - at));
    }
    EXPECT_EQ(names.size(), 23u);
    EXPECT_EQ(names.count("unknown"), 0u);
}

TEST_F(CrashReport, RegisterLinesFollowTheReportOrder) {
    // The sixteen registers of the report get 1 to 16 in the report's
    // order; every other byte of the context a value that must not show.
    memset(&context, 0x5A, sizeof context);
#if defined(__i386__)
    DWORD* order[] = {&context.SegDs, &context.SegCs, &context.Eip, &context.Eax, &context.SegEs, &context.SegSs,
                      &context.Esp, &context.Ebx, &context.SegFs, &context.EFlags, &context.Ebp, &context.Ecx,
                      &context.SegGs, &context.Esi, &context.Edi, &context.Edx};
    for (int i = 0; i < 16; ++i) *order[i] = static_cast<DWORD>(i + 1);
    const std::string p = "E";
#else
    context.SegDs = 1, context.SegCs = 2, context.Rip = 3, context.Rax = 4;
    context.SegEs = 5, context.SegSs = 6, context.Rsp = 7, context.Rbx = 8;
    context.SegFs = 9, context.EFlags = 10, context.Rbp = 11, context.Rcx = 12;
    context.SegGs = 13, context.Rsi = 14, context.Rdi = 15, context.Rdx = 16;
    const std::string p = "R";
#endif
    const std::string names[16] = {"DS", "CS", p + "IP", p + "AX", "ES", "SS",  p + "SP", p + "BX",
                                   "FS", "EFL", p + "BP", p + "CX", "GS", p + "SI", p + "DI", p + "DX"};
    std::string r = report(0xC0000094);
    size_t heading = r.find("  Registers:\r\n");
    ASSERT_NE(heading, std::string::npos) << r;
    std::istringstream lines(r.substr(heading + 14));
    std::string line;
    int i = 0;
    for (int n = 1; n <= 4 && std::getline(lines, line); ++n) {
        std::istringstream words(line);
        for (std::string word; words >> word && i < 16; ++i) EXPECT_EQ(word, names[i] + "=" + hex(i + 1)) << line;
        EXPECT_EQ(i, 4 * n) << line;
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.rfind("Please report", 0), 0u) << line;
}

// With a report file the same happens around its writing, which the
// backend's tests watch in real faulting processes.
TEST_F(CrashReport, WithoutAFileTheFilterFramesTheReportOnErrorOutputAfterTheDelayAndExitsWithOne) {
    const std::string alone = report(0xC0000094);
    fresh_fake();
    crash_install(nullptr, 250, nullptr);
    EXPECT_EQ(fake::exception_filter, &crash_filter);
    EXPECT_EQ(run_filter(), 1);
    EXPECT_EQ(err(), "\r\n\r\n" + alone + "\r\n\r\n");
    EXPECT_EQ(fake::count("CreateFileA"), 0);
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{250, 250}));
    // The priority is put back before anything is written.
    auto first = [](const char* name) { return std::find(fake::calls.begin(), fake::calls.end(), name); };
    EXPECT_LT(first("SetPriorityClass"), first("WriteFile"));
}

TEST_F(CrashReport, AReportFileThatCannotBeCreatedEndsInTheFatalMessage) {
    crash_install(nullptr, 0, T("crash.txt"));
    fake::refused_names = {"crash.txt"};
    record.ExceptionCode = 0xC0000005;
    EXPECT_EQ(run_filter(), 1);
    std::string e = err();
    size_t report_end = e.find("Please report"), fatal = e.find("crash.txt cannot be created");
    ASSERT_NE(fatal, std::string::npos) << e;
    EXPECT_LT(report_end, fatal);
    EXPECT_FALSE(has(e, "was also written")) << e;
}

TEST_F(CrashReport, ASecondEntryEndsTheProcessAtOnceWithoutAWord) {
    EXPECT_EQ(run_filter(), 1);
    fake::reset();
    EXPECT_EQ(run_filter(), 1);
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"GetCurrentProcess", "SetPriorityClass", "ExitProcess"}));
}

}  // namespace
