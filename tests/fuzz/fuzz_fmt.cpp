// The formatter with any format and typed arguments. The destination has no
// size: widths are kept to three digits and the buffer sized from the input,
// so the sanitizers catch any write past what the directives may produce.
// Input: argument count, the arguments (kind byte, then its value), a text
// already in the buffer (for %>), then the format.
#include <cstring>
#include <string>
#include <vector>
#include "expect.h"
#include "runtime/fmt.h"
#include "runtime/txt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    size_t left = size;
    auto take = [&] { return left > 0 ? (--left, *p++) : 0; };
    auto text = [&] {  // a length byte, then up to that many bytes, not past a NUL
        std::string s;
        for (uint8_t n = take(); n-- > 0 && left > 0 && *p != 0;) s += static_cast<char>(take());
        return s;
    };
    std::vector<std::string> texts;  // owned copies: the formatter unscrambles them in place
    texts.reserve(9);
    std::vector<FmtArg> args;
    for (int count = take() % 9; count > 0; --count) {
        uint8_t kind = take() % 6, x = kind == 0 || kind == 2 ? 0 : take();
        int64_t wide = 0;
        if (kind == 0)
            for (int b = 0; b < 8; ++b) wide = wide << 8 | take();
        char* constants[] = {T("Scanner"), T("%i"), T(""), T("COM%i: ")};
        if (kind == 0) args.emplace_back(wide);
        else if (kind == 1) args.emplace_back(static_cast<int8_t>(x));
        else if (kind == 2) args.emplace_back(texts.emplace_back(text()).data());
        else if (kind == 3) args.emplace_back(txt_char(x));
        else if (kind == 4) args.emplace_back(x % 2 ? nullptr : static_cast<const void*>(&left));
        else args.emplace_back(constants[x % 4]);
    }
    std::string prefix = text(), format(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), left));
    // A width is a caller's promise about the buffer: keep them small.
    size_t digits = 0, bound = prefix.size() + format.size() + 16 + 4 * 16;
    for (char c : format) {
        digits = c >= '0' && c <= '9' ? digits + 1 : 0;
        if (digits > 3) return -1;
        bound += c == '%' ? 2 * 1000 + 200 : 0;
        if (c == '*')
            for (FmtArg& a : args)
                if (a.kind == FmtArg::Int) a.i %= 1000;
    }
    for (const std::string& t : texts) bound += t.size();
    std::vector<char> buffer(bound);  // calloc'd: the sanitizer sees a byte beyond
    memcpy(buffer.data(), prefix.data(), prefix.size());
    int n = fmt_vformat(buffer.data(), format.data(), FmtList{args.data(), static_cast<int>(args.size())});
    EXPECT(n >= 0 && static_cast<size_t>(n) == strlen(buffer.data()));  // the result is the text's length
    return 0;
}
