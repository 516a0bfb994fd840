// The crash report and the unhandled-exception filter over the recording
// fake: the names, the register lines and how the filter frames the report.
// Reports of real faults are checked on a whole program (tests/e2e).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "runtime/crash.h"
#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "tests/fake/fake.h"

namespace {

std::string hex(uint64_t v) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%0*llX", int(sizeof(void*) * 2), static_cast<unsigned long long>(v));
    return buffer;
}

struct CrashReport : ::testing::Test {
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    EXCEPTION_POINTERS pointers{&record, &context};
    void SetUp() override {
        fake::reset();
        name_table_clear();
        std_init(1);
        crash_running = 0;
    }
    std::string report(DWORD code) {
        record.ExceptionCode = code;
        fake::written.clear();
        crash_report(std_err, &pointers);
        return fake::written[std_err];
    }
    int run_filter() {  // to its end: the exit code
        try {
            crash_filter(&pointers);
        } catch (const fake::Exit& e) {
            return e.code;
        }
        return -1;
    }
};

TEST_F(CrashReport, EachExceptionCodeOfWindowsInTheTableHasANameOfItsOwn) {
    const std::string label = "  Exception:       ";
    std::set<std::string> names;
    for (DWORD code : std::initializer_list<DWORD>{0x80000001, 0x80000002, 0x80000003, 0x80000004, 0xC0000005, 0xC0000006, 0xC0000008, 0xC000001D,
                       0xC0000025, 0xC0000026, 0xC000008C, 0xC000008D, 0xC000008E, 0xC000008F, 0xC0000090, 0xC0000091,
                       0xC0000092, 0xC0000093, 0xC0000094, 0xC0000095, 0xC0000096, 0xC00000FD, 0xC000013A, 0}) {
        std::string r = report(code);
        size_t at = r.find(label) + label.size();
        names.insert(r.substr(at, r.find("\r\n", at) - at));
    }
    EXPECT_EQ(names.size(), 24u);
    EXPECT_EQ(names.count("unknown"), 1u);
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
    context.SegDs = 1, context.SegCs = 2, context.Rip = 3, context.Rax = 4, context.SegEs = 5, context.SegSs = 6;
    context.Rsp = 7, context.Rbx = 8, context.SegFs = 9, context.EFlags = 10, context.Rbp = 11, context.Rcx = 12;
    context.SegGs = 13, context.Rsi = 14, context.Rdi = 15, context.Rdx = 16;
    const std::string p = "R";
#endif
    const std::string names[16] = {"DS", "CS", p + "IP", p + "AX", "ES", "SS",  p + "SP", p + "BX",
                                   "FS", "EFL", p + "BP", p + "CX", "GS", p + "SI", p + "DI", p + "DX"};
    std::string r = report(0xC0000094);
    std::istringstream words(r.substr(r.find("  Registers:\r\n") + 14));
    for (int i = 0; i < 16; ++i) {
        std::string word;
        words >> word;
        EXPECT_EQ(word, names[i] + "=" + hex(i + 1));
    }
    std::string next;
    words >> next;
    EXPECT_EQ(next, "Please");
}

TEST_F(CrashReport, TheFilterFramesTheReportAfterTheDelayAndASecondEntryEndsAtOnce) {
    const std::string alone = report(0xC0000094);
    fake::reset();
    crash_install(nullptr, 250, nullptr);
    EXPECT_EQ(fake::exception_filter, &crash_filter);
    EXPECT_EQ(run_filter(), 1);
    EXPECT_EQ(fake::written[std_err], "\r\n\r\n" + alone + "\r\n\r\n");
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{250, 250}));
    // The priority is put back before anything is written.
    auto first = [](const char* name) { return std::find(fake::calls.begin(), fake::calls.end(), name); };
    EXPECT_LT(first("SetPriorityClass"), first("WriteFile"));
    fake::reset();
    EXPECT_EQ(run_filter(), 1);
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"GetCurrentProcess", "SetPriorityClass", "ExitProcess"}));
}

TEST_F(CrashReport, AReportFileThatCannotBeCreatedEndsInTheFatalMessage) {
    crash_install(nullptr, 0, T("crash.txt"));
    fake::refused_names = {"crash.txt"};
    EXPECT_EQ(run_filter(), 1);
    const std::string& e = fake::written[std_err];
    size_t fatal = e.find("crash.txt cannot be created");
    ASSERT_NE(fatal, std::string::npos) << e;
    EXPECT_LT(e.find("Please report"), fatal);
    EXPECT_EQ(e.find("was also written"), std::string::npos) << e;
}

}  // namespace
