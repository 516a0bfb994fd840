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

const int kDigits = static_cast<int>(sizeof(void*) * 2);

std::string hex(uint64_t v) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%0*llX", kDigits, static_cast<unsigned long long>(v));
    return buffer;
}

// Gives the sixteen registers of the report the values 1 to 16 in the
// report's order, and every other register a value that must not show.
void number_registers(CONTEXT* c) {
    memset(c, 0x5A, sizeof *c);
#if defined(__i386__)
    DWORD* order[] = {&c->SegDs, &c->SegCs, &c->Eip, &c->Eax, &c->SegEs, &c->SegSs, &c->Esp, &c->Ebx,
                      &c->SegFs, &c->EFlags, &c->Ebp, &c->Ecx, &c->SegGs, &c->Esi, &c->Edi, &c->Edx};
    for (int i = 0; i < 16; ++i) *order[i] = static_cast<DWORD>(i + 1);
#else
    c->SegDs = 1, c->SegCs = 2, c->Rip = 3, c->Rax = 4;
    c->SegEs = 5, c->SegSs = 6, c->Rsp = 7, c->Rbx = 8;
    c->SegFs = 9, c->EFlags = 10, c->Rbp = 11, c->Rcx = 12;
    c->SegGs = 13, c->Rsi = 14, c->Rdi = 15, c->Rdx = 16;
#endif
}

class CrashReport : public ::testing::Test {
protected:
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    EXCEPTION_POINTERS pointers{&record, &context};

    void SetUp() override {
        fake::reset();
        name_table_clear();
        dual_output = -1;
        short_write_report = 1;
        std_init(1);
        crash_running = 0;
        crash_install(nullptr, 0, nullptr);
        record.ExceptionAddress = reinterpret_cast<PVOID>(0x401A2B);
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

TEST_F(CrashReport, AWriteAccessViolationGivesTheKindAndTheDataAddressTwice) {
    std::string r = report(0xC0000005, 1, 0x1234);
    EXPECT_NE(r.find("Exception code:  C0000005\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("Exception:       access violation\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("At address:      " + hex(0x401A2B) + "\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("Faulting access: writing at address " + hex(0x1234) + " (4,660)\r\n"), std::string::npos) << r;
    EXPECT_EQ(r.find("Further detail"), std::string::npos) << r;
}

TEST_F(CrashReport, AccessKindsAndTheExtraLineOfAnExecutionFault) {
    std::string r = report(0xC0000005, 8, 0x7000, 0x15);
    EXPECT_NE(r.find("Faulting access: executing in non-executable memory at address " + hex(0x7000)),
              std::string::npos)
        << r;
    size_t extra = r.find("Further detail:  15\r\n");
    ASSERT_NE(extra, std::string::npos) << r;
    EXPECT_LT(r.find("Faulting access"), extra);
    EXPECT_LT(extra, r.find("Registers:"));

    EXPECT_NE(report(0xC0000005, 0, 0).find("Faulting access: reading at address " + hex(0) + " (0)"),
              std::string::npos);
    r = report(0xC0000005, 5, 16, 0x15);
    EXPECT_NE(r.find("Faulting access: an unknown access at address " + hex(16) + " (16)"), std::string::npos) << r;
    EXPECT_EQ(r.find("Further detail"), std::string::npos) << r;
    // An in-page error is explained the same way.
    r = report(0xC0000006, 0, 0xB00000);
    EXPECT_NE(r.find("in-page error"), std::string::npos) << r;
    EXPECT_NE(r.find("reading at address " + hex(0xB00000) + " (11,534,336)"), std::string::npos) << r;
}

TEST_F(CrashReport, ADivisionByZeroGoesFromItsAddressStraightToTheRegisters) {
    std::string r = report(0xC0000094, 1, 0x1234, 0x15);
    EXPECT_NE(r.find("Exception code:  C0000094\r\n  Exception:       integer divide by zero\r\n"), std::string::npos)
        << r;
    size_t address = r.find("At address:      " + hex(0x401A2B) + "\r\n");
    ASSERT_NE(address, std::string::npos) << r;
    EXPECT_EQ(r.find("\r\n", address) + 2, r.find("  Registers:\r\n")) << r;
}

TEST_F(CrashReport, ACodeNotInTheTableIsNamedUnknown) {
    std::string r = report(0xE06D7363);
    EXPECT_NE(r.find("Exception code:  E06D7363\r\n  Exception:       unknown\r\n"), std::string::npos) << r;
    r = report(0);
    EXPECT_NE(r.find("Exception code:  00000000\r\n  Exception:       unknown\r\n"), std::string::npos) << r;
}

TEST_F(CrashReport, EveryCodeOfTheTableHasANameOfItsOwn) {
    const DWORD codes[] = {0x80000001, 0x80000002, 0x80000003, 0x80000004, 0xC0000005, 0xC0000006,
                           0xC0000008, 0xC000001D, 0xC0000025, 0xC0000026, 0xC000008C, 0xC000008D,
                           0xC000008E, 0xC000008F, 0xC0000090, 0xC0000091, 0xC0000092, 0xC0000093,
                           0xC0000094, 0xC0000095, 0xC0000096, 0xC00000FD, 0xC000013A};
    std::set<std::string> names;
    const std::string label = "  Exception:       ";
    for (DWORD code : codes) {
        std::string r = report(code);
        size_t at = r.find(label);
        ASSERT_NE(at, std::string::npos) << r;
        at += label.size();
        std::string name = r.substr(at, r.find("\r\n", at) - at);
        EXPECT_NE(name, "unknown") << std::hex << code;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 23u);
    EXPECT_NE(report(0xC00000FD).find("Exception:       stack overflow\r\n"), std::string::npos);
    EXPECT_NE(report(0xC000001D).find("Exception:       illegal instruction\r\n"), std::string::npos);
    EXPECT_NE(report(0x80000003).find("Exception:       breakpoint\r\n"), std::string::npos);
}

TEST_F(CrashReport, RegisterLinesFollowTheReportOrder) {
    number_registers(&context);
    std::string r = report(0xC0000094);
    size_t heading = r.find("  Registers:\r\n");
    ASSERT_NE(heading, std::string::npos) << r;
    std::string lines = r.substr(heading + 14);
    const char p = kDigits == 16 ? 'R' : 'E';
    const std::string names[16] = {"DS", "CS", std::string(1, p) + "IP", std::string(1, p) + "AX",
                                   "ES", "SS", std::string(1, p) + "SP", std::string(1, p) + "BX",
                                   "FS", "EFL", std::string(1, p) + "BP", std::string(1, p) + "CX",
                                   "GS", std::string(1, p) + "SI", std::string(1, p) + "DI", std::string(1, p) + "DX"};
    int i = 0;
    for (int line = 0; line < 4; ++line) {
        size_t line_end = lines.find("\r\n");
        ASSERT_NE(line_end, std::string::npos);
        std::istringstream words(lines.substr(0, line_end));
        lines.erase(0, line_end + 2);
        for (std::string word; words >> word; ++i) {
            ASSERT_LT(i, 16) << word;
            EXPECT_EQ(word, names[i] + "=" + hex(uint64_t(i + 1)));
        }
        EXPECT_EQ(i, 4 * (line + 1));
    }
    EXPECT_EQ(lines.rfind("Please report", 0), 0u) << lines;
}

TEST_F(CrashReport, InstallingNoFilterInstallsTheReportAndHandsBackTheOneBefore) {
    EXPECT_EQ(fake::exception_filter, &crash_filter);
    auto other = [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_CONTINUE_SEARCH; };
    EXPECT_EQ(crash_install(other, 0, nullptr), &crash_filter);
    EXPECT_EQ(fake::exception_filter, +other);
}

TEST_F(CrashReport, WithoutAFileTheFilterFramesTheReportOnErrorOutputAndExitsWithOne) {
    std::string alone = report(0xC0000094);
    fake::reset();
    std_init(1);
    crash_install(nullptr, 0, nullptr);

    EXPECT_EQ(run_filter(), 1);
    EXPECT_EQ(err(), "\r\n\r\n" + alone + "\r\n\r\n");
    EXPECT_EQ(fake::count("CreateFileA"), 0);
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{0, 0}));
    // The priority is put back before anything is written.
    auto first = [](const std::string& name) {
        return std::find(fake::calls.begin(), fake::calls.end(), name) - fake::calls.begin();
    };
    EXPECT_LT(first("SetPriorityClass"), first("WriteFile"));
}

TEST_F(CrashReport, TheReportFileHoldsTheSameReportAndIsNamedAfterwards) {
    std::string alone = report(0xC0000005, 1, 0x10);
    fake::reset();
    std_init(1);
    crash_install(nullptr, 250, T("rxmon-last-crash-info.txt"));

    EXPECT_EQ(run_filter(), 1);
    ASSERT_EQ(fake::disk.count("rxmon-last-crash-info.txt"), 1u);
    EXPECT_EQ(fake::disk["rxmon-last-crash-info.txt"], alone);
    EXPECT_EQ(fake::count("CreateFileA"), 1);
    EXPECT_EQ(fake::count("CloseHandle"), 1);
    EXPECT_EQ(err(), "\r\n\r\n" + alone + "The crash report was also written to rxmon-last-crash-info.txt.\r\n\r\n\r\n");
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{250, 250}));
}

TEST_F(CrashReport, AReportFileThatCannotBeCreatedEndsInTheFatalMessage) {
    crash_install(nullptr, 0, T("crash.txt"));
    fake::refused_names = {"crash.txt"};
    record.ExceptionCode = 0xC0000005;
    EXPECT_EQ(run_filter(), 1);
    std::string e = err();
    size_t report_end = e.find("Please report");
    size_t fatal = e.find("crash.txt cannot be created");
    ASSERT_NE(report_end, std::string::npos) << e;
    ASSERT_NE(fatal, std::string::npos) << e;
    EXPECT_LT(report_end, fatal);
    EXPECT_EQ(e.find("was also written"), std::string::npos) << e;
}

TEST_F(CrashReport, ASecondEntryEndsTheProcessAtOnceWithoutAWord) {
    EXPECT_EQ(run_filter(), 1);
    fake::reset();
    EXPECT_EQ(run_filter(), 1);
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"GetCurrentProcess", "SetPriorityClass", "ExitProcess"}));
}

}  // namespace
