// The formatter's main loop, its conversions and the decimal reader.
#include "runtime/fmt.h"

#include "runtime/txt.h"

namespace {

struct Directive {
    int32_t width = 0;
    int32_t decimals = 0;
    bool zero_pad = false;
    bool wide = false;  // "~": the integer counts with all 64 bits
    bool grouping = false;
    bool semicolon = false;
    bool minus = false;
    bool space = false;
};

// Hands out the typed arguments in order and never reads past the list.
struct ArgCursor {
    FmtList list;
    int next = 0;
    const FmtArg* take() { return next < list.count ? &list.args[next++] : nullptr; }
};

// Inserts text of length n at position at, within the text [at, *end).
void insert_at(char* at, char*& end, const char* text, int n) {
    mem_move(at, at + n, end - at);
    for (int i = 0; i < n; ++i) at[i] = text[i];
    end += n;
}

bool is_exactly(const char* t, const char* end, const char* want) {
    int n = static_cast<int>(end - t);
    for (int i = 0; i < n; ++i)
        if (want[i] != t[i]) return false;
    return want[n] == 0;
}

char* put_reversed(const char* digits, int n, char* out) {
    while (n > 0) *out++ = digits[--n];
    return out;
}

char* digits_in_base(uint64_t value, unsigned base, char* out) {
    const char* alphabet = txt_unscramble(T("0123456789ABCDEF"));
    char local[64];
    int n = 0;
    do {
        local[n++] = alphabet[value % base];
        value /= base;
    } while (value != 0);
    return put_reversed(local, n, out);
}

// Decimals and grouping on the digits of a number just written.
void shape_number(char* t, char*& end, const Directive& d) {
    bool negative = *t == '-';
    char* digits = t + negative;
    if (d.decimals > 0) {
        while (end - digits <= d.decimals) insert_at(digits, end, "0", 1);
        insert_at(end - d.decimals, end, ".", 1);
    }
    if (!d.grouping) return;
    int whole_length = static_cast<int>(end - t);
    int integer_length = d.decimals > 0 ? whole_length - d.decimals - 1 : whole_length;
    if (!d.semicolon && ((negative && whole_length == 5) || integer_length <= 4)) return;
    char* point = d.decimals > 0 ? end - d.decimals - 1 : end;
    for (char* p = point - 3; p > digits; p -= 3) insert_at(p, end, ",", 1);
}

void pad(char* t, char*& end, const Directive& d, bool left_justify) {
    int length = static_cast<int>(end - t);
    if (length >= d.width) return;
    int n = d.width - length;
    char fill = d.zero_pad ? '0' : ' ';
    if (left_justify) {
        for (int i = 0; i < n; ++i) *end++ = fill;
    } else {
        mem_move(t, t + n, length);
        for (int i = 0; i < n; ++i) t[i] = fill;
        end += n;
    }
}

// The plural suffix for width w; plural is false after a number that was 1.
void plural_suffix(char*& out, int w, bool plural) {
    const char* ending = txt_unscramble(T("ies"));
    const char* suffix = "";
    if (w == 3) suffix = plural ? ending : "y";
    else if (w == 4) suffix = plural ? "" : "es";
    else if (w == 5) suffix = plural ? "" : "s";
    else if (w >= 0 && w <= 2 && plural) suffix = ending + 3 - w;
    while (*suffix) *out++ = *suffix++;
}

void write_text(char*& out, const FmtArg* a) {
    if (a && a->kind == FmtArg::Text && txt_is_char(a->t)) {
        if (a->t) *out++ = static_cast<char>(reinterpret_cast<uintptr_t>(a->t));
    } else if (a && a->kind == FmtArg::Text) {
        for (const char* s = txt_unscramble(a->t); *s; ++s) *out++ = *s;
    } else if (a && a->kind == FmtArg::Int && a->i >= 0 && a->i < 256) {
        if (a->i != 0) *out++ = static_cast<char>(a->i);
    } else {
        *out++ = '?';
    }
}

uint64_t raw_value(const FmtArg* a) {
    if (a->kind == FmtArg::Int) return static_cast<uint64_t>(a->i);
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(a->kind == FmtArg::Text ? a->t : a->a));
}

}  // namespace

char* fmt_digits_unsigned(uint64_t value, char* out) { return digits_in_base(value, 10, out); }
char* fmt_digits_hex(uint64_t value, char* out) { return digits_in_base(value, 16, out); }
char* fmt_digits_base2(uint64_t value, char* out) { return digits_in_base(value, 2, out); }

char* fmt_digits_signed(int64_t value, char* out) {
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    return digits_in_base(magnitude, 10, out);
}

int fmt_vformat(char* buffer, const char* format, FmtList list) {
    const char* f = txt_unscramble(format);
    char* out = buffer;
    ArgCursor args{list};
    bool suppressed_zero = false;
    bool plural = true;
    for (;;) {
        char c = *f++;
        if (c != '%') {
            *out = c;
            if (c == 0) return static_cast<int>(out - buffer);
            ++out;
            continue;
        }
        c = *f;
        if (c == '%') {
            *out++ = suppressed_zero ? ' ' : '%';
            ++f;
            continue;
        }
        if (c == '>') {
            while (*out) ++out;
            ++f;
            continue;
        }
        if (c == 'W' || c == 'w') {
            *out = 0;
            while (out > buffer && (out[-1] == ' ' || out[-1] == '\t')) *--out = 0;
            ++f;
            continue;
        }

        Directive d;
        suppressed_zero = false;
        for (;;) {
            c = *f;
            if (c == 0) {
                *out = 0;
                return static_cast<int>(out - buffer);
            }
            if (cc_is(c, CC_DIGIT)) {
                d.zero_pad = c == '0';
                const char* end = f;
                num_parse(f, &end, &d.width);
                f = end;
                c = *f;
            }
            if (c == '*') {
                const FmtArg* a = args.take();
                d.width = a && a->kind == FmtArg::Int ? static_cast<int32_t>(a->i) : 0;
                c = *++f;
            }
            if (c == '~') d.wide = true;
            else if (c == ',') d.grouping = true, d.semicolon = false;
            else if (c == ';') d.grouping = d.semicolon = true;
            else if (c == '.') d.decimals = d.width < 2 ? 1 : d.width;
            else if (c == '-') d.minus = true;
            else if (c == ' ') d.space = true;
            else break;
            ++f;
        }
        if (d.decimals != 0) {
            int32_t w = d.width;
            d.width = d.decimals;
            d.decimals = w;
        }

        bool left_justify = cc_is(c, CC_UPPER);
        char letter = left_justify ? static_cast<char>(c + 0x20) : c;
        char* t = out;
        bool number = false;
        switch (letter) {
            case 's': write_text(out, args.take()); break;
            case 'i':
            case 'l':
            case 'u':
            case 'x':
            case 'y':
            case 'b': {
                const FmtArg* a = args.take();
                if (a == nullptr) {
                    *out++ = '?';
                    break;
                }
                uint64_t v = raw_value(a);
                if (letter == 'i' || letter == 'l') {
                    int64_t s = d.wide ? static_cast<int64_t>(v) : static_cast<int64_t>(static_cast<int32_t>(v));
                    out = fmt_digits_signed(s, out);
                } else {
                    if (!d.wide) v = static_cast<uint32_t>(v);
                    out = letter == 'u'   ? fmt_digits_unsigned(v, out)
                          : letter == 'b' ? fmt_digits_base2(v, out)
                                          : fmt_digits_hex(v, out);
                }
                number = true;
                break;
            }
            case 'p':
                plural_suffix(out, d.width, plural);
                d.width = 0;
                break;
            default:
                // Unknown letter: "?" now, and the letter is read again as
                // an ordinary character of the format.
                *out++ = '?';
                --f;
                break;
        }
        ++f;

        if (number) {
            if ((d.minus || d.space) && is_exactly(t, out, "0")) {
                *t = d.minus ? '-' : ' ';
                d.zero_pad = false;
                suppressed_zero = true;
            } else {
                plural = !is_exactly(t, out, "1");
                shape_number(t, out, d);
            }
        }
        pad(t, out, d, left_justify);
    }
}

int num_parse(const char* text, const char** end, int32_t* value) {
    const char* local_end;
    int32_t local_value;
    if (end == nullptr) end = &local_end;
    if (value == nullptr) value = &local_value;
    const char* p = txt_skip_blanks(text);
    bool negative = *p == '-';
    if (negative) ++p;
    const char* start = p;
    int64_t v = 0;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    while (cc_is(*p, CC_DIGIT)) {
        v = v * 10 + (*p++ - '0');
        if (v > limit) return 1;
    }
    *end = p;
    *value = static_cast<int32_t>(negative ? -v : v);
    return p == start ? 2 : 0;
}
