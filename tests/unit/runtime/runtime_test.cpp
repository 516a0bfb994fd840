// What only the fake can provoke in the crash filter (an in-page error, a
// second entry, a report file that cannot be created; real faults: e2e), and
// the program path from a Windows command line.
#include <gtest/gtest.h>

#include <string>

#include "runtime/crash.h"
#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "tests/fake/fake.h"

namespace {

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
    std::string& err() { return fake::written[std_err]; }
    int run_filter() {  // to its end: the exit code
        try {
            crash_filter(&pointers);
        } catch (const fake::Exit& e) {
            return e.code;
        }
        return -1;
    }
};

TEST_F(CrashReport, AnInPageErrorHasItsAccessLineAndTheFilterFramesTheReportAfterTheDelay) {
    record.ExceptionCode = EXCEPTION_IN_PAGE_ERROR;
    record.ExceptionInformation[1] = 0xB00000;
    crash_install(nullptr, 250, nullptr);
    EXPECT_EQ(fake::exception_filter, &crash_filter);
    EXPECT_EQ(run_filter(), 1);
    const std::string zeros(sizeof(void*) * 2 - 6, '0');
    EXPECT_NE(err().find("\r\n  Exception code:  C0000006\r\n  Exception:       in-page error\r\n  At address:      " +
                         zeros + "000000\r\n  Faulting access: reading at address " + zeros + "B00000 (11,534,336)"),
              std::string::npos) << err();
    EXPECT_EQ(fake::sleeps, (std::vector<DWORD>{250, 250}));
    fake::calls.clear();  // a second entry ends the process at once, without a word
    EXPECT_EQ(run_filter(), 1);
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"GetCurrentProcess", "SetPriorityClass", "ExitProcess"}));
}

TEST_F(CrashReport, AReportFileThatCannotBeCreatedEndsInTheFatalMessage) {
    crash_install(nullptr, 0, T("crash.txt"));
    fake::refused_names = {"crash.txt"};
    EXPECT_EQ(run_filter(), 1);
    size_t fatal = err().find("crash.txt cannot be created");
    ASSERT_NE(fatal, std::string::npos) << err();
    EXPECT_LT(err().find("Exception code:  00000000"), fatal);
    EXPECT_EQ(err().find("was also written"), std::string::npos) << err();
}

// The parsing is txt_next_arg's and the POSIX split is the backend's: here a Windows line.
TEST(ProgramPath, SplitsAWindowsCommandLineAndRefusesPathsOfMaxPathOrMore) {
    fake::reset();
    fake::command_line = "\"C:\\Program Files\\rx\\rxmon.exe\" 3 0";
    char directory[300], file_name[300], arguments[300], out[400] = "j";
    program_path(directory, file_name, arguments);
    EXPECT_EQ(std::vector<std::string>({directory, file_name, arguments}),
              std::vector<std::string>({"C:\\Program Files\\rx\\", "rxmon.exe", " 3 0"}));
    EXPECT_EQ(full_path(std::string(300, 'x').c_str(), out), 1);
    EXPECT_STREQ(out, "");
}

}  // namespace
