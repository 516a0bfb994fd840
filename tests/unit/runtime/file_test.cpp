// File access, handle names, the buffered reader and the program path,
// over the fake's in-memory disk.
#include <gtest/gtest.h>

#include <string>

#include "runtime/file.h"
#include "runtime/out.h"
#include "tests/fake/fake.h"

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        name_table_clear();
        short_write_report = 1;
        std_init(1);
    }
    std::string name_of(HANDLE h) {
        char name[262];
        name_lookup(h, name);
        return name;
    }
};

TEST_F(Files, NamesFollowOpenCloseAndReuseOfAHandle) {
    fake::disk["a.wav"] = "A";
    fake::disk["b.wav"] = "B";
    HANDLE a, b;
    ASSERT_EQ(file_open("a.wav", 0, &a), 0);
    EXPECT_EQ(name_of(a), "a.wav");
    EXPECT_EQ(file_close(a), 0);
    std::string closed = name_of(a);
    EXPECT_NE(closed, "a.wav");
    EXPECT_FALSE(closed.empty());
    ASSERT_EQ(file_open("b.wav", 2, &b), 0);
    ASSERT_EQ(b, a);  // the system handed the same value out again
    EXPECT_EQ(name_of(b), "b.wav");
    EXPECT_EQ(name_of(reinterpret_cast<HANDLE>(0x4444)), "");
    EXPECT_EQ(file_close(reinterpret_cast<HANDLE>(0x4444)), 1);
}

TEST_F(Files, TheFirstRegistrationNamesTheStandardHandlesFirst) {
    name_table_clear();
    name_remember(reinterpret_cast<HANDLE>(0x300), "x");
    EXPECT_EQ(name_of(std_in), "<stdin>");
    EXPECT_EQ(name_of(std_out), "<stdout>");
    EXPECT_EQ(name_of(reinterpret_cast<HANDLE>(0x300)), "x");
}

TEST_F(Files, LongNamesAreCutAndAFullTableLosesNewNames) {
    std::string long_name(300, 'n');
    name_remember(reinterpret_cast<HANDLE>(0x500), long_name.c_str());
    EXPECT_EQ(name_of(reinterpret_cast<HANDLE>(0x500)), std::string(261, 'n'));
    for (int i = 0; i < 120; ++i) name_remember(reinterpret_cast<HANDLE>(0x500), std::to_string(i).c_str());
    // The first registration's three standard names, start-up's own three,
    // the long one and 93 more fill the 100 slots.
    EXPECT_EQ(name_of(reinterpret_cast<HANDLE>(0x500)), "92");
    name_remember(reinterpret_cast<HANDLE>(0x600), "late");
    EXPECT_EQ(name_of(reinterpret_cast<HANDLE>(0x600)), "");
}

TEST_F(Files, OpenModesAndFailures) {
    HANDLE h = nullptr;
    EXPECT_EQ(file_open("missing.wav", 0, &h), 1);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(name_of(INVALID_HANDLE_VALUE), "");

    fake::refused_names.push_back("locked.txt");
    try {
        file_create("locked.txt", 0, &h);
        FAIL() << "a failed create returned";
    } catch (const fake::Exit& e) {
        EXPECT_EQ(e.code, 1);
    }
    EXPECT_NE(fake::written[std_err].find("locked.txt"), std::string::npos);

    ASSERT_EQ(file_create("new.txt", 0, &h), 0);
    EXPECT_EQ(name_of(h), "new.txt");
    EXPECT_TRUE(fake::disk.count("new.txt"));
}

TEST_F(Files, ReaderServesBytesInOrderAcrossA64KiBBoundary) {
    std::string data(70000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
    fake::disk["big.wav"] = data;
    HANDLE h;
    ASSERT_EQ(file_open("big.wav", 0, &h), 0);
    static FileReader reader;
    reader_init(&reader, h);
    std::string got(70000, '\0');
    EXPECT_EQ(reader_read(&reader, got.data(), 65530), 65530);
    EXPECT_EQ(fake::reads_of(h), 1);
    EXPECT_EQ(reader_read(&reader, got.data() + 65530, 20), 20);  // 6 old bytes, 14 new
    EXPECT_EQ(fake::reads_of(h), 2);
    EXPECT_EQ(reader.block_position, 65536);
    EXPECT_EQ(reader.read_position, 65550);
    EXPECT_EQ(reader_read(&reader, got.data() + 65550, 10000), 4450);
    EXPECT_EQ(got, data);

    // At the end every call returns 0 and asks the file once more.
    int reads = fake::reads_of(h);
    EXPECT_EQ(reader_read(&reader, got.data(), 1), 0);
    EXPECT_EQ(reader_read(&reader, got.data(), 1), 0);
    EXPECT_EQ(fake::reads_of(h), reads + 2);
}

TEST_F(Files, ReaderStartsWhereTheHandleStands) {
    fake::disk["f"] = "0123456789";
    HANDLE h;
    ASSERT_EQ(file_open("f", 0, &h), 0);
    SetFilePointer(h, 4, nullptr, FILE_BEGIN);
    static FileReader reader;
    reader_init(&reader, h);
    EXPECT_EQ(reader.read_position, 4);
    char two[3] = {};
    EXPECT_EQ(reader_read_exact(&reader, two, 2), 2);
    EXPECT_STREQ(two, "45");
}

TEST_F(Files, AShortExactReadIsFatalAndNamesTheFile) {
    fake::disk["short.wav"] = "RIFF";
    HANDLE h;
    ASSERT_EQ(file_open("short.wav", 0, &h), 0);
    static FileReader reader;
    reader_init(&reader, h);
    char buffer[16];
    EXPECT_THROW(reader_read_exact(&reader, buffer, 12), fake::Exit);
    EXPECT_NE(fake::written[std_err].find("short.wav"), std::string::npos);
}

TEST_F(Files, FullPathRefusesPathsOfMaxPathOrMore) {
    char out[400];
    EXPECT_EQ(full_path("rxmon.exe", out), 0);
    EXPECT_STREQ(out, "C:\\work\\rxmon.exe");
    std::string long_name(300, 'x');
    out[0] = 'j';
    EXPECT_EQ(full_path(long_name.c_str(), out), 1);
    EXPECT_STREQ(out, "");
}

struct PathCase {
    const char* command_line;
    const char* directory;
    const char* file_name;
    const char* arguments;
};

class ProgramPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(ProgramPath, SplitsTheCommandLine) {
    fake::reset();
    const PathCase& c = GetParam();
    fake::command_line = c.command_line;
    char directory[300], file_name[300], arguments[300];
    program_path(directory, file_name, arguments);
    EXPECT_STREQ(directory, c.directory);
    EXPECT_STREQ(file_name, c.file_name);
    EXPECT_STREQ(arguments, c.arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ProgramPath,
    ::testing::Values(PathCase{"\"C:\\Program Files\\rx\\rxmon.exe\" 3 0", "C:\\Program Files\\rx\\", "rxmon.exe", " 3 0"},
                      PathCase{"C:\\rx\\rxmon.exe", "C:\\rx\\", "rxmon.exe", ""},
                      PathCase{"rxmon  3  1", "C:\\work\\", "rxmon", "  3  1"},
                      PathCase{"\"C:\\a b\\rxmon.exe 3", "C:\\a b\\", "rxmon.exe 3", ""},
                      PathCase{"\"\" 4", "C:\\work\\", "", " 4"},
                      PathCase{"\x80 33", "C:\\work\\", "\x80", " 33"}));  // reads as a stored text

TEST(ProgramPathLimits, OnlyTheWantedResultsAreWrittenAndLongLinesAreCut) {
    fake::reset();
    fake::command_line = "rxmon.exe 5";
    char arguments[16];
    program_path(nullptr, nullptr, arguments);
    EXPECT_STREQ(arguments, " 5");

    fake::command_line = "rxmon.exe " + std::string(40000, '7');
    static char long_arguments[40000];
    program_path(nullptr, nullptr, long_arguments);
    EXPECT_EQ(std::string(long_arguments).size(), 32767u - 9u);
}

}  // namespace
