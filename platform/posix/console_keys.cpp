// Bytes from a terminal decoded into the key events a Windows console
// reports: PC scan codes (set 1), the character, and the control-key state.
//
// Map: the US keyboard's characters; terminfo's key strings; the decoder
// (known strings, CSI and SS3 forms with xterm's modifier parameter, Alt as
// an ESC prefix, control characters, UTF-8).
//
// Limits: a terminal reports no key-up events, no modifier pressed alone,
// and only the modifier combinations it has encodings for; a lone ESC is
// told from the start of a sequence only by the wait that follows it.
#include <cstring>
#include <term.h>

#include "platform/posix/console_term.h"

#undef columns
#undef lines

namespace posix::term {

namespace {

struct CharKey {
    WORD scan;
    bool shift;
};

// Scan code and Shift of each printable ASCII character on a US keyboard.
CharKey char_key(unsigned char c) {
    static const char* const rows[][2] = {
        {"1234567890-=", "!@#$%^&*()_+"}, {"qwertyuiop[]", "QWERTYUIOP{}"},
        {"asdfghjkl;'`", "ASDFGHJKL:\"~"}, {"\\zxcvbnm,./", "|ZXCVBNM<>?"}};
    static const WORD first[] = {2, 16, 30, 43};
    if (c == ' ') return {57, false};
    for (int r = 0; r < 4; ++r)
        for (int shifted = 0; shifted < 2; ++shifted)
            if (const char* p = strchr(rows[r][shifted], c); p && c)
                return {static_cast<WORD>(first[r] + (p - rows[r][shifted])), shifted == 1};
    return {0, false};
}

INPUT_RECORD key(WORD scan, unsigned char ch, DWORD state, WORD vk = 0) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = TRUE;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = vk;
    r.Event.KeyEvent.wVirtualScanCode = scan;
    r.Event.KeyEvent.uChar.AsciiChar = static_cast<char>(ch);
    r.Event.KeyEvent.dwControlKeyState = state;
    return r;
}

// One byte that is not part of a sequence, as the key that types it.
INPUT_RECORD byte_key(unsigned char c, DWORD extra) {
    switch (c) {
        case 0: return key(3, 0, LEFT_CTRL_PRESSED | extra);  // Ctrl+2 (or Ctrl+Space)
        case 8:
        case 127: return key(14, 8, extra, VK_BACK);
        case 9: return key(15, 9, extra, VK_TAB);
        case 13: return key(28, 13, extra, VK_RETURN);
        case 27: return key(1, 27, extra, VK_ESCAPE);
        case 28: return key(43, c, LEFT_CTRL_PRESSED | extra);
        case 29: return key(27, c, LEFT_CTRL_PRESSED | extra);
        case 30: return key(7, c, LEFT_CTRL_PRESSED | SHIFT_PRESSED | extra);
        case 31: return key(12, c, LEFT_CTRL_PRESSED | extra);
        default: break;
    }
    if (c < 32) return key(char_key(static_cast<unsigned char>('a' + c - 1)).scan, c, LEFT_CTRL_PRESSED | extra);
    CharKey k = char_key(c);
    return key(k.scan, c, (k.shift ? SHIFT_PRESSED : 0) | extra);
}

// xterm's modifier parameter: 1 + Shift 1, Alt 2, Ctrl 4 (Meta 8 as Alt).
DWORD modifiers(int m) {
    if (m < 2) return 0;
    int bits = m - 1;
    DWORD state = 0;
    if (bits & 1) state |= SHIFT_PRESSED;
    if (bits & (2 | 8)) state |= LEFT_ALT_PRESSED;
    if (bits & 4) state |= LEFT_CTRL_PRESSED;
    return state;
}

// The final letter of a CSI or SS3 form: cursor keys and F1 to F4.
bool letter_key(unsigned char final, WORD* scan, WORD* vk) {
    switch (final) {
        case 'A': *scan = 72, *vk = VK_UP; return true;
        case 'B': *scan = 80, *vk = VK_DOWN; return true;
        case 'C': *scan = 77, *vk = VK_RIGHT; return true;
        case 'D': *scan = 75, *vk = VK_LEFT; return true;
        case 'H': *scan = 71, *vk = VK_HOME; return true;
        case 'F': *scan = 79, *vk = VK_END; return true;
        case 'E': *scan = 76, *vk = 0x0C; return true;
        case 'P': *scan = 59, *vk = VK_F1; return true;
        case 'Q': *scan = 60, *vk = VK_F1 + 1; return true;
        case 'R': *scan = 61, *vk = VK_F1 + 2; return true;
        case 'S': *scan = 62, *vk = VK_F1 + 3; return true;
        default: return false;
    }
}

// The number of a "CSI n ~" form.
bool tilde_key(int n, WORD* scan, WORD* vk) {
    static const struct {
        int n;
        WORD scan, vk;
    } keys[] = {{1, 71, VK_HOME}, {2, 82, VK_INSERT}, {3, 83, VK_DELETE}, {4, 79, VK_END},  {5, 73, VK_PRIOR},
                {6, 81, VK_NEXT}, {7, 71, VK_HOME},   {8, 79, VK_END},    {11, 59, 0x70},   {12, 60, 0x71},
                {13, 61, 0x72},   {14, 62, 0x73},     {15, 63, 0x74},     {17, 64, 0x75},   {18, 65, 0x76},
                {19, 66, 0x77},   {20, 67, 0x78},     {21, 68, 0x79},     {23, 87, 0x7A},   {24, 88, 0x7B}};
    for (const auto& k : keys)
        if (k.n == n) {
            *scan = k.scan;
            *vk = k.vk;
            return true;
        }
    return false;
}

bool is_cursor_block(WORD scan) { return scan >= 71 && scan <= 83 && scan != 74 && scan != 76 && scan != 78; }

// A CSI or SS3 sequence at p (behind ESC [ or ESC O). Returns the bytes it
// takes (0: incomplete; -1: not a key sequence).
long parse_sequence(const unsigned char* p, size_t n, bool csi, DWORD extra, std::vector<INPUT_RECORD>* out) {
    int params[4] = {0, 0, 0, 0};
    int count = 0;
    size_t i = 0;
    bool marked = false;
    for (; i < n; ++i) {
        unsigned char c = p[i];
        if (c >= '0' && c <= '9') {
            if (count == 0) count = 1;
            if (count <= 4 && params[count - 1] < 10000) params[count - 1] = params[count - 1] * 10 + (c - '0');
        } else if (c == ';') {
            if (count == 0) count = 1;
            ++count;
        } else if (c >= 0x20 && c <= 0x3F) {
            marked = true;  // private markers and intermediates: not a key form
        } else {
            break;
        }
    }
    if (i == n) return 0;
    unsigned char final = p[i];
    if (final < 0x40 || final > 0x7E) return -1;
    long used = static_cast<long>(i + 1);
    if (marked) return used;
    WORD scan = 0, vk = 0;
    DWORD state = extra;
    if (final == '~' && csi) {
        if (!tilde_key(params[0], &scan, &vk)) return used;  // a key we do not know: dropped
        state |= modifiers(params[1]);
    } else if (final == 'Z' && csi) {
        out->push_back(key(15, 9, SHIFT_PRESSED | extra, VK_TAB));
        return used;
    } else if (letter_key(final, &scan, &vk)) {
        // CSI 1;5A, and SS3 5P as some terminals send their modified F1.
        state |= modifiers(csi ? params[1] : params[0]);
    } else if (!csi && final == 'M') {
        out->push_back(key(28, 13, extra, VK_RETURN));
        return used;
    } else {
        return used;  // other CSI forms (reports, mouse) are not keys
    }
    if (is_cursor_block(scan)) state |= ENHANCED_KEY;
    out->push_back(key(scan, 0, state, vk));
    return used;
}

// Length of a UTF-8 sequence from its first byte, 0 when it cannot start one.
size_t utf8_length(unsigned char c) {
    return c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
}

// The code page 437 character of a Unicode one, or '?'.
unsigned char cp437_of(uint32_t cp) {
    if (cp < 0x80) return static_cast<unsigned char>(cp);
    for (int c = 128; c < 256; ++c)
        if (cp437_high(static_cast<unsigned char>(c)) == cp) return static_cast<unsigned char>(c);
    return '?';
}

}  // namespace

namespace {
// One character at p: a byte, or in a UTF-8 locale a whole UTF-8 sequence.
// Returns the bytes used, 0 when the sequence is still incomplete.
size_t decode_char(const unsigned char* p, size_t left, bool final, bool utf8, DWORD extra,
                   std::vector<INPUT_RECORD>* out) {
    if (p[0] < 0x80 || !utf8) {
        out->push_back(p[0] >= 0x80 ? key(0, p[0], extra) : byte_key(p[0], extra));
        return 1;
    }
    size_t len = utf8_length(p[0]);
    if (len == 0) return 1;  // a stray continuation byte
    if (left < len) return final ? left : 0;
    uint32_t cp = p[0] & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (p[k] & 0x3F);
    out->push_back(key(0, cp437_of(cp), extra));
    return len;
}
}  // namespace

size_t decode_keys(const unsigned char* bytes, size_t count, bool final, const std::vector<KeyString>& known,
                   bool utf8, std::vector<INPUT_RECORD>* out) {
    size_t at = 0;
    while (at < count) {
        const unsigned char* p = bytes + at;
        size_t left = count - at;

        // Terminfo's own strings first, the longest that matches.
        const KeyString* best = nullptr;
        bool maybe_longer = false;
        for (const KeyString& k : known) {
            size_t len = k.bytes.size();
            if (len <= left && memcmp(p, k.bytes.data(), len) == 0) {
                if (!best || len > best->bytes.size()) best = &k;
            } else if (len > left && memcmp(p, k.bytes.data(), left) == 0) {
                maybe_longer = true;
            }
        }
        if (maybe_longer && !final) break;
        if (best) {
            INPUT_RECORD r = key(best->scan, best->scan == 15 ? 9 : 0, best->state);
            if (is_cursor_block(best->scan)) r.Event.KeyEvent.dwControlKeyState |= ENHANCED_KEY;
            out->push_back(r);
            at += best->bytes.size();
            continue;
        }

        if (p[0] != 27) {
            size_t used = decode_char(p, left, final, utf8, 0, out);
            if (used == 0) break;
            at += used;
            continue;
        }
        if (left == 1) {
            if (!final) break;  // ESC alone: wait to see whether more follows
            out->push_back(byte_key(27, 0));
            at += 1;
            continue;
        }
        // ESC ESC may yet become Alt with a key's sequence (ESC ESC [ A).
        if (left == 2 && p[1] == 27 && !final) break;
        // ESC [ and ESC O start the keys' sequences; ESC ESC [ is Alt with one.
        size_t esc = p[1] == 27 && left > 2 && (p[2] == '[' || p[2] == 'O') ? 1 : 0;
        unsigned char intro = p[1 + esc];
        if (intro == '[' || intro == 'O') {
            long used = 0;
            if (left > 2 + esc)
                used = parse_sequence(p + 2 + esc, left - 2 - esc, intro == '[', esc ? LEFT_ALT_PRESSED : 0, out);
            if (used == 0 && !final) break;
            if (used > 0) {
                at += 2 + esc + static_cast<size_t>(used);
                continue;
            }
        }
        // Otherwise ESC is Alt for the key behind it.
        size_t used = decode_char(p + 1, left - 1, final, utf8, LEFT_ALT_PRESSED, out);
        if (used == 0) break;
        at += 1 + used;
    }
    return at;
}

const std::vector<KeyString>& terminfo_keys() {
    static const std::vector<KeyString> keys = [] {
        std::vector<KeyString> list;
        if (!output_ready()) return list;
        auto add = [&](const char* cap, WORD scan, DWORD state) {
            char* s = tigetstr(const_cast<char*>(cap));
            if (s == nullptr || s == reinterpret_cast<char*>(-1) || strlen(s) < 2) return;
            list.push_back({s, scan, state});
        };
        add("kcuu1", 72, 0);
        add("kcud1", 80, 0);
        add("kcub1", 75, 0);
        add("kcuf1", 77, 0);
        add("khome", 71, 0);
        add("kend", 79, 0);
        add("kpp", 73, 0);
        add("knp", 81, 0);
        add("kich1", 82, 0);
        add("kdch1", 83, 0);
        add("kcbt", 15, SHIFT_PRESSED);
        // F1 to F12, then the same with Shift, Ctrl, Ctrl+Shift and Alt, in
        // the order xterm-like entries number them (kf13 is Shift+F1).
        static const WORD fscan[12] = {59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 87, 88};
        static const DWORD fstate[5] = {0, SHIFT_PRESSED, LEFT_CTRL_PRESSED, LEFT_CTRL_PRESSED | SHIFT_PRESSED,
                                        LEFT_ALT_PRESSED};
        for (int group = 0; group < 5; ++group)
            for (int f = 0; f < 12; ++f) {
                char name[8];
                snprintf(name, sizeof name, "kf%d", group * 12 + f + 1);
                add(name, fscan[f], fstate[group]);
            }
        return list;
    }();
    return keys;
}

}  // namespace posix::term
