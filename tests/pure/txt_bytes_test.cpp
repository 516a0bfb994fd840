// Texts from outside the program (scanner replies, file names, the command
// line) go through every routine as the bytes they are, even where they
// read as a stored text constant: a marker byte and a check that passes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "runtime/fmt.h"
#include "runtime/txt.h"

namespace {

struct Use {
    const char* routine;
    std::function<std::string(char*)> run;  // what it made of the text: the text itself
};

const Use kUses[] = {
    {"len", [](char* t) { return std::string(t, txt_len(t)); }},
    {"copy", [](char* t) { char d[32]; txt_copy(d, t); return std::string(d); }},
    {"copy_n", [](char* t) { char d[32]; txt_copy_n(d, t, 30); return std::string(d); }},
    {"append to", [](char* t) { txt_append(t, ""); return std::string(t); }},
    {"append", [](char* t) { char d[32] = ""; txt_append(d, t); return std::string(d); }},
    {"prepend to", [](char* t) { txt_prepend(t, ""); return std::string(t); }},
    {"find", [](char* t) { char h[32] = "<"; const char* at = txt_find(strcat(h, t), t); return std::string(at ? at : ""); }},
    {"replace", [](char* t) { txt_replace(t, "#", "##"); return std::string(t); }},
    {"compare", [](char* t) { std::string a = t; return txt_compare(a.c_str(), t) || txt_compare_n(a.c_str(), t, 9) ? "" : a; }},
    {"trim right", [](char* t) { txt_trim_right(t); return std::string(t); }},
    {"trim left", [](char* t) { char d[32] = " \t"; txt_trim_left(strcat(d, t)); return std::string(d); }},
    {"skip blanks", [](char* t) { return std::string(txt_skip_blanks(t)); }},
    {"format", [](char* t) { char d[32]; fmt_format(d, "%s", t); return std::string(d); }},
    {"parse", [](char* t) { const char* end; int32_t v; num_parse(t, &end, &v); return std::string(t); }},
};

TEST(TextBytes, DataThatReadsAsAStoredTextIsNeverRewritten) {
    const char* stored = T("scanner");  // its stored form, copied before its first use
    const std::string lookalikes[] = {"\x80 33", "\x85\x05", stored};  // 0x80^' '^'3'^'3' passes the check
    for (const std::string& text : lookalikes) {
        ASSERT_GE(static_cast<unsigned char>(text[0]), 0x80);
        for (const Use& use : kUses) {
            char t[32];
            strcpy(t, text.c_str());
            EXPECT_EQ(use.run(t), text) << use.routine << " on " << &text - lookalikes;
            EXPECT_EQ(std::string(t), text) << use.routine << " on " << &text - lookalikes;
        }
    }
}

}  // namespace
