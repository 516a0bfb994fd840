// Output to the standard handles, the fatal stop and the short-write report,
// over the recording fake.
#include <gtest/gtest.h>

#include <string>

#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "tests/fake/fake.h"

namespace {

class Output : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        name_table_clear();
        dual_output = -1;
        short_write_report = 1;
        std_init(1);
    }
    std::string out() { return fake::written[std_out]; }
    std::string err() { return fake::written[std_err]; }
};

TEST_F(Output, LineFeedsLeaveAsCrLfAndNothingElseChanges) {
    EXPECT_EQ(out_print(std_out, "a\r\nb\n\nc"), 0);
    EXPECT_EQ(out(), "a\r\r\nb\r\n\r\nc");
    fake::written.clear();
    EXPECT_EQ(out_print(std_out, txt_char('\n')), 0);
    EXPECT_EQ(out(), "\r\n");
    fake::written.clear();
    int writes = fake::count("WriteFile");
    EXPECT_EQ(out_print(std_out, ""), 0);
    EXPECT_EQ(fake::count("WriteFile"), writes);
    EXPECT_EQ(out_printf(std_out, T("%i %s\n"), 7, T("dwarfs")), 0);
    EXPECT_EQ(out(), "7 dwarfs\r\n");
}

TEST_F(Output, ConsoleTextGoesToBothHandlesOnlyWhenTheirTypesDiffer) {
    fake::file_types[std_out] = FILE_TYPE_DISK;
    fake::file_types[std_err] = FILE_TYPE_CHAR;
    EXPECT_EQ(con_print("port open\n"), 0);
    EXPECT_EQ(out(), "port open\r\n");
    EXPECT_EQ(err(), "port open\r\n");
    EXPECT_EQ(dual_output, 1);

    // Decided once: a later change of type does not undo it.
    fake::file_types[std_out] = FILE_TYPE_CHAR;
    con_printf(T("COM%i\n"), 4);
    EXPECT_EQ(err(), "port open\r\nCOM4\r\n");
}

TEST_F(Output, ConsoleTextIsWrittenOnceWhenBothHandlesAreTheConsole) {
    EXPECT_EQ(con_print("once\n"), 0);
    EXPECT_EQ(out(), "once\r\n");
    EXPECT_EQ(err(), "");
    EXPECT_EQ(dual_output, 0);
}

TEST_F(Output, NullOutputSwallowsEverything) {
    EXPECT_EQ(out_write(NULL_OUTPUT, "abc", 3), 3u);
    EXPECT_EQ(out_print(NULL_OUTPUT, "line\n"), 0);
    EXPECT_EQ(fake::count("WriteFile"), 0);
    EXPECT_EQ(short_write_report, 1);
}

TEST_F(Output, FatalFramesItsMessageOnErrorOutputAndExitsWithOne) {
    try {
        fatal(T("Gone: %i\n"), 42);
        FAIL() << "fatal returned";
    } catch (const fake::Exit& e) {
        EXPECT_EQ(e.code, 1);
    }
    std::string e = err();
    size_t message = e.find("Gone: 42\r\n");
    ASSERT_NE(message, std::string::npos) << e;
    EXPECT_GT(message, 10u);  // a header stands before it
    EXPECT_GT(e.size(), message + 20);  // and a footer after it
    EXPECT_EQ(out(), "");
}

TEST_F(Output, FirstShortWriteIsReportedWithTheHandlesName) {
    fake::short_writes[std_out] = 3;
    try {
        out_print(std_out, "hello");
        FAIL() << "a short write went unreported";
    } catch (const fake::Exit& e) {
        EXPECT_EQ(e.code, 1);
    }
    EXPECT_NE(err().find("<stdout>"), std::string::npos) << err();
    EXPECT_NE(err().find(" 5 "), std::string::npos) << err();  // the count asked for
    EXPECT_NE(err().find(" 3 "), std::string::npos) << err();  // and the count written
    EXPECT_EQ(short_write_report, 0);

    // Only the first one stops the program; later ones are returned.
    EXPECT_EQ(out_print(std_out, "hello"), 1);
}

TEST_F(Output, ShortWriteOfTheFatalMessageItselfDoesNotRecurse) {
    fake::short_writes[std_out] = 0;
    fake::short_writes[std_err] = 0;
    EXPECT_THROW(out_print(std_out, "x"), fake::Exit);
    EXPECT_EQ(fake::count("ExitProcess"), 1);
}

TEST_F(Output, StartUpSetsTheConsoleInputModeAndNamesTheHandles) {
    DWORD mode = fake::console_modes[std_in];
    EXPECT_TRUE(mode & ENABLE_PROCESSED_INPUT);
    EXPECT_FALSE(mode & ENABLE_MOUSE_INPUT);
    EXPECT_TRUE(mode & ENABLE_WINDOW_INPUT);
    EXPECT_TRUE(mode & ENABLE_LINE_INPUT);  // others untouched
    EXPECT_TRUE(mode & ENABLE_QUICK_EDIT_MODE);

    std_init(0);
    EXPECT_FALSE(fake::console_modes[std_in] & ENABLE_PROCESSED_INPUT);

    char name[262];
    name_lookup(std_err, name);
    EXPECT_STREQ(name, "<stderr>");
}

TEST_F(Output, StartUpWithoutAConsoleGoesOn) {
    fake::console_modes.clear();
    std_init(1);
    EXPECT_EQ(fake::count("SetConsoleMode"), 2);  // tried, failed, ignored
    EXPECT_EQ(out_print(std_out, "still here"), 0);
}

}  // namespace
