// The formatter with any format and any list of typed arguments. The
// destination carries no size, so widths are kept to three digits and the
// buffer is sized from the input; the sanitizers then catch any write past
// what the directives may produce, and the result must be the length of
// the text written.
//
// Input: argument count, the arguments (kind byte, then its value), a text
// already in the buffer (for %>), then the format.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "expect.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"

namespace {

struct Input {
    const uint8_t* p;
    size_t left;
    bool take(uint8_t* b) {
        if (left == 0) return false;
        *b = *p++, --left;
        return true;
    }
    std::string text() {
        uint8_t n = 0;
        take(&n);
        std::string s;
        while (n-- > 0 && left > 0 && *p != 0) s += static_cast<char>(*p++), --left;
        return s;
    }
};

char* constant(int which) {
    switch (which % 4) {
        case 0: return T("Scanner");
        case 1: return T("%i");
        case 2: return T("");
        default: return T("COM%i: ");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    uint8_t count = 0;
    in.take(&count);
    count %= 9;
    std::vector<std::string> texts;  // owned copies: the formatter unscrambles them in place
    texts.reserve(count);
    std::vector<FmtArg> args;
    for (int i = 0; i < count; ++i) {
        uint8_t kind = 0;
        in.take(&kind);
        switch (kind % 6) {
            case 0: {
                uint64_t v = 0;
                for (int b = 0; b < 8; ++b) {
                    uint8_t x = 0;
                    in.take(&x);
                    v = v << 8 | x;
                }
                args.emplace_back(static_cast<int64_t>(v));
                break;
            }
            case 1: {
                uint8_t x = 0;
                in.take(&x);
                args.emplace_back(static_cast<int8_t>(x));
                break;
            }
            case 2:
                texts.push_back(in.text());
                args.emplace_back(texts.back().data());
                break;
            case 3: {
                uint8_t x = 0;
                in.take(&x);
                args.emplace_back(txt_char(x));
                break;
            }
            case 4: {
                uint8_t x = 0;
                in.take(&x);
                args.emplace_back(x % 2 ? nullptr : static_cast<const void*>(&in));
                break;
            }
            default: {
                uint8_t x = 0;
                in.take(&x);
                args.emplace_back(constant(x));
                break;
            }
        }
    }
    std::string prefix = in.text();
    std::string format(reinterpret_cast<const char*>(in.p), in.left);
    format.resize(strlen(format.c_str()));

    // A width is a caller's promise about the buffer: keep them small.
    size_t digits = 0, percents = 0;
    bool star = false;
    for (char c : format) {
        digits = c >= '0' && c <= '9' ? digits + 1 : 0;
        if (digits > 3) return -1;
        percents += c == '%';
        star |= c == '*';
    }
    if (star)
        for (FmtArg& a : args)
            if (a.kind == FmtArg::Int) a.i %= 1000;

    size_t bound = prefix.size() + format.size() + percents * (2 * 1000 + 200) + 16;
    for (const std::string& t : texts) bound += t.size();
    for (int i = 0; i < 4; ++i) bound += strlen(txt_unscramble(constant(i)));
    char* buffer = static_cast<char*>(calloc(bound, 1));
    memcpy(buffer, prefix.data(), prefix.size());
    int n = fmt_vformat(buffer, format.data(), FmtList{args.data(), static_cast<int>(args.size())});
    EXPECT(n >= 0 && static_cast<size_t>(n) == strlen(buffer));  // the result is the text's length
    free(buffer);
    return 0;
}
