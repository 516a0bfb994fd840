// Start-up of the standard handles, handle names and the program path over
// the fake's handles and disk. What reaches redirected output, and the
// reader on real files, are checked on the POSIX layer (backend, e2e).
#include <gtest/gtest.h>

#include <string>

#include "runtime/file.h"
#include "runtime/out.h"
#include "tests/fake/fake.h"

namespace {

std::string name_of(HANDLE h) {
    char name[262];
    name_lookup(h, name);
    return name;
}

TEST(Files, StartUpSetsTheConsoleInputModeAndNamesFollowOpenCloseAndReuseOfAHandle) {
    fake::reset();
    name_table_clear();
    std_init(0);
    EXPECT_EQ(fake::console_modes[std_in], DWORD(ENABLE_LINE_INPUT | ENABLE_WINDOW_INPUT));
    std_init(1);
    EXPECT_EQ(fake::console_modes[std_in], DWORD(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_WINDOW_INPUT));
    EXPECT_EQ(name_of(std_err), "<stderr>");
    fake::disk["a.wav"] = fake::disk["b.wav"] = "A";
    HANDLE a, b;
    ASSERT_EQ(file_open("a.wav", 0, &a), 0);
    EXPECT_EQ(name_of(a), "a.wav");
    EXPECT_EQ(file_close(a), 0);
    EXPECT_NE(name_of(a), "a.wav");
    ASSERT_EQ(file_open("b.wav", 2, &b), 0);
    ASSERT_EQ(b, a);  // the system handed the same value out again
    EXPECT_EQ(name_of(b), "b.wav");
    EXPECT_EQ(file_open("missing.wav", 0, &a), 1);
    fake::refused_names.push_back("locked.txt");
    EXPECT_THROW(file_create("locked.txt", 0, &a), fake::Exit);
    EXPECT_NE(fake::written[std_err].find("locked.txt"), std::string::npos);
}

TEST(ProgramPath, SplitsTheCommandLineAndRefusesPathsOfMaxPathOrMore) {
    const char* cases[][4] = {
        {"\"C:\\Program Files\\rx\\rxmon.exe\" 3 0", "C:\\Program Files\\rx\\", "rxmon.exe", " 3 0"},
        {"rxmon  3  1", "C:\\work\\", "rxmon", "  3  1"},
        {"\"C:\\a b\\rxmon.exe 3", "C:\\a b\\", "rxmon.exe 3", ""}};
    fake::reset();
    for (auto c : cases) {
        fake::command_line = c[0];
        char directory[300], file_name[300], arguments[300];
        program_path(directory, file_name, arguments);
        EXPECT_EQ(std::vector<std::string>({directory, file_name, arguments}), std::vector<std::string>(c + 1, c + 4));
    }
    char out[400] = "j";
    EXPECT_EQ(full_path(std::string(300, 'x').c_str(), out), 1);
    EXPECT_STREQ(out, "");
}

}  // namespace
