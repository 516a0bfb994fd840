// The program path from a Windows command line, over the fake. Files, handle
// names and redirected output are checked on the POSIX layer (backend, e2e).
#include <gtest/gtest.h>

#include <string>

#include "runtime/file.h"
#include "tests/fake/fake.h"

namespace {

TEST(ProgramPath, SplitsTheCommandLineAndRefusesPathsOfMaxPathOrMore) {
    const char* cases[][4] = {
        {"\"C:\\Program Files\\rx\\rxmon.exe\" 3 0", "C:\\Program Files\\rx\\", "rxmon.exe", " 3 0"},
        {"rxmon  3  1", "C:\\work\\", "rxmon", "  3  1"},
        {"\"C:\\a b\\rxmon.exe 3", "C:\\a b\\", "rxmon.exe 3", ""},
        {"\x80 33", "C:\\work\\", "\x80", " 33"}};  // reads as a stored text
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
