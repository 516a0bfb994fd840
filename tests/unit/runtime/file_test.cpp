// Output to the standard handles, the short-write report, file access,
// handle names, the buffered reader and the program path, over the fake's
// handles and in-memory disk.
#include <gtest/gtest.h>

#include <string>

#include "runtime/file.h"
#include "runtime/out.h"
#include "runtime/txt.h"
#include "tests/fake/fake.h"

namespace {

struct Files : ::testing::Test {
    void SetUp() override {
        fake::reset();
        name_table_clear();
        dual_output = -1;
        short_write_report = 1;
        std_init(1);
    }
    static std::string name_of(HANDLE h) {
        char name[262];
        name_lookup(h, name);
        return name;
    }
    static std::string& out() { return fake::written[std_out]; }
};

TEST_F(Files, LineFeedsLeaveAsCrLfAndConsoleTextIsMirroredOnlyWhenTheHandlesDiffer) {
    EXPECT_EQ(out_print(std_out, "a\r\nb\n\nc"), 0);
    EXPECT_EQ(out_print(std_out, txt_char('\n')), 0);
    EXPECT_EQ(out(), "a\r\r\nb\r\n\r\nc\r\n");
    int writes = fake::count("WriteFile");
    EXPECT_EQ(out_print(std_out, ""), 0);
    EXPECT_EQ(out_print(NULL_OUTPUT, "line\n"), 0);
    EXPECT_EQ(fake::count("WriteFile"), writes);
    EXPECT_EQ(con_printf(T("%i %s\n"), 7, T("dwarfs")), 0);  // both the console: once
    EXPECT_EQ(fake::written[std_err], "");
    fake::written.clear();
    dual_output = -1;
    fake::file_types[std_out] = FILE_TYPE_DISK;
    con_print("port open\n");
    EXPECT_EQ(out(), "port open\r\n");
    EXPECT_EQ(fake::written[std_err], "port open\r\n");
}

TEST_F(Files, TheFirstShortWriteStopsTheProgramNamingItsHandleAndLaterOnesAreReturned) {
    fake::short_writes[std_out] = 3;
    EXPECT_THROW(out_print(std_out, "hello"), fake::Exit);
    const std::string& err = fake::written[std_err];
    for (const char* part : {"<stdout>", " 5 ", " 3 ", "\r\n"}) EXPECT_NE(err.find(part), std::string::npos) << err;
    EXPECT_EQ(out_print(std_out, "hello"), 1);
    short_write_report = 1;
    fake::short_writes[std_err] = 0;  // the report itself cannot be written: no recursion
    EXPECT_THROW(out_print(std_err, "x"), fake::Exit);
    EXPECT_EQ(fake::count("ExitProcess"), 2);
}

TEST_F(Files, StartUpSetsTheConsoleInputModeAndGoesOnWithoutAConsole) {
    EXPECT_EQ(fake::console_modes[std_in], DWORD(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_WINDOW_INPUT));
    std_init(0);
    EXPECT_EQ(fake::console_modes[std_in], DWORD(ENABLE_LINE_INPUT | ENABLE_WINDOW_INPUT));
    EXPECT_EQ(name_of(std_err), "<stderr>");
    fake::console_modes.clear();
    std_init(1);
    EXPECT_EQ(out_print(std_out, "still here"), 0);
}

TEST_F(Files, NamesFollowOpenCloseAndReuseOfAHandleUntilTheTableIsFull) {
    fake::disk["a.wav"] = fake::disk["b.wav"] = "A";
    HANDLE a, b;
    ASSERT_EQ(file_open("a.wav", 0, &a), 0);
    EXPECT_EQ(name_of(a), "a.wav");
    EXPECT_EQ(file_close(a), 0);
    EXPECT_NE(name_of(a), "a.wav");
    EXPECT_NE(name_of(a), "");
    ASSERT_EQ(file_open("b.wav", 2, &b), 0);
    ASSERT_EQ(b, a);  // the system handed the same value out again
    EXPECT_EQ(name_of(b), "b.wav");
    EXPECT_EQ(file_close(reinterpret_cast<HANDLE>(0x4444)), 1);
    EXPECT_EQ(file_open("missing.wav", 0, &a), 1);
    EXPECT_EQ(a, INVALID_HANDLE_VALUE);
    fake::refused_names.push_back("locked.txt");
    EXPECT_THROW(file_create("locked.txt", 0, &a), fake::Exit);
    EXPECT_NE(fake::written[std_err].find("locked.txt"), std::string::npos);
    name_remember(reinterpret_cast<HANDLE>(0x500), std::string(300, 'n').c_str());
    EXPECT_EQ(name_of(reinterpret_cast<HANDLE>(0x500)), std::string(261, 'n'));
    // The standard three, start-up's own three, a.wav, its closing, b.wav,
    // the closing of 0x4444 and the long one: 89 more fill the 100 slots.
    for (int i = 0; i < 100; ++i) name_remember(reinterpret_cast<HANDLE>(0x500), std::to_string(i).c_str());
    EXPECT_EQ(name_of(reinterpret_cast<HANDLE>(0x500)), "88");
}

TEST_F(Files, TheReaderServesBytesInOrderFromWhereTheHandleStandsAcrossA64KiBBoundary) {
    std::string data(70004, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
    fake::disk["big.wav"] = data;
    HANDLE h;
    ASSERT_EQ(file_open("big.wav", 0, &h), 0);
    SetFilePointer(h, 4, nullptr, FILE_BEGIN);
    static FileReader reader;
    reader_init(&reader, h);
    std::string got(70000, '\0');
    EXPECT_EQ(reader_read(&reader, got.data(), 65530), 65530);
    EXPECT_EQ(fake::reads_of(h), 1);
    EXPECT_EQ(reader_read_exact(&reader, got.data() + 65530, 20), 20);  // 6 old bytes, 14 new
    EXPECT_EQ(fake::reads_of(h), 2);
    EXPECT_EQ(reader.block_position, 65540);
    EXPECT_EQ(reader.read_position, 65554);
    EXPECT_EQ(reader_read(&reader, got.data() + 65550, 10000), 4450);
    EXPECT_EQ(got, data.substr(4));
    EXPECT_EQ(reader_read(&reader, got.data(), 1), 0);  // at the end each call asks the file once more
    EXPECT_EQ(fake::reads_of(h), 4);
    EXPECT_THROW(reader_read_exact(&reader, got.data(), 1), fake::Exit);
    EXPECT_NE(fake::written[std_err].find("big.wav"), std::string::npos);
}

TEST(ProgramPath, SplitsTheCommandLineAndRefusesPathsOfMaxPathOrMore) {
    const char* cases[][4] = {
        {"\"C:\\Program Files\\rx\\rxmon.exe\" 3 0", "C:\\Program Files\\rx\\", "rxmon.exe", " 3 0"},
        {"C:\\rx\\rxmon.exe", "C:\\rx\\", "rxmon.exe", ""},
        {"rxmon  3  1", "C:\\work\\", "rxmon", "  3  1"},
        {"\"C:\\a b\\rxmon.exe 3", "C:\\a b\\", "rxmon.exe 3", ""},
        {"\"\" 4", "C:\\work\\", "", " 4"}};
    fake::reset();
    for (auto c : cases) {
        fake::command_line = c[0];
        char directory[300], file_name[300], arguments[300];
        program_path(directory, file_name, arguments);
        EXPECT_EQ(std::vector<std::string>({directory, file_name, arguments}), std::vector<std::string>(c + 1, c + 4));
    }
    fake::command_line = "rxmon.exe " + std::string(40000, '7');
    static char long_arguments[40000];
    program_path(nullptr, nullptr, long_arguments);
    EXPECT_EQ(std::string(long_arguments).size(), 32767u - 9u);
    char out[400] = "j";
    EXPECT_EQ(full_path(std::string(300, 'x').c_str(), out), 1);
    EXPECT_STREQ(out, "");
}

}  // namespace
