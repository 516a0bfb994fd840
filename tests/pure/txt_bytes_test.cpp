// Text routines on bytes that are not the program's own texts (scanner
// replies, file names): found by fuzzing, a part of such a text that
// happens to read as a stored text constant must not be rewritten.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/txt.h"

namespace {

TEST(TextBytes, TrimLeftMovesARestThatReadsAsAConstantUnchanged) {
    // The stored form of a constant, copied before any routine has read it.
    const char* stored = T("a rest that reads as a text constant");
    char text[64] = "  \t";
    memcpy(text + 3, stored, strlen(stored) + 1);
    const std::string rest = text + 3;
    ASSERT_GE(static_cast<unsigned char>(rest[0]), 0x80);  // the marker byte leads

    EXPECT_EQ(txt_trim_left(text), static_cast<unsigned char>(rest[0]));
    EXPECT_EQ(std::string(text), rest);
}

}  // namespace
