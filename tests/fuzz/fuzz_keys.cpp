// The terminal's key decoder on any bytes: all used once the ESC wait is
// over, keys of known scan codes, and pieces decoding as the whole.
// Input: a flags byte (UTF-8, terminfo strings known, piece sizes), then the bytes.
#include <algorithm>
#include <string>
#include <vector>
#include "expect.h"
#include "platform/posix/console_term.h"

using posix::term::decode_keys;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return -1;
    const unsigned flags = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    auto u = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
    // What an xterm's terminfo entry names (a part of it).
    static const std::vector<posix::term::KeyString> none, xterm = {{"\x1bOA", 72, 0}, {"\x1b[5~", 73, 0},
        {"\x1b[Z", 15, SHIFT_PRESSED}, {"\x1bOP", 59, 0}, {"\x1b[1;2P", 59, SHIFT_PRESSED}, {"\x1b[24;5~", 88, LEFT_CTRL_PRESSED}};
    const auto& known = flags & 2 ? xterm : none;

    std::vector<INPUT_RECORD> at_once, pieces;
    EXPECT(decode_keys(u(bytes), bytes.size(), true, known, flags & 1, &at_once) == bytes.size());
    for (const INPUT_RECORD& r : at_once)
        EXPECT(r.EventType == KEY_EVENT && r.Event.KeyEvent.bKeyDown && r.Event.KeyEvent.wRepeatCount == 1 &&
               r.Event.KeyEvent.wVirtualScanCode <= 91);
    // The same bytes in pieces of 1 to 8, kept while incomplete, as the
    // console's input queue keeps them between reads.
    std::string pending;
    unsigned state = flags;
    for (size_t at = 0, n; at < bytes.size(); at += n) {
        state = state * 1103515245u + 12345u;
        n = std::min<size_t>(bytes.size() - at, 1 + (state >> 16) % 8);
        pending += bytes.substr(at, n);
        size_t used = decode_keys(u(pending), pending.size(), false, known, flags & 1, &pieces);
        EXPECT(used <= pending.size());
        pending.erase(0, used);
    }
    EXPECT(decode_keys(u(pending), pending.size(), true, known, flags & 1, &pieces) == pending.size());
    EXPECT(pieces.size() == at_once.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        const KEY_EVENT_RECORD &x = pieces[i].Event.KeyEvent, &y = at_once[i].Event.KeyEvent;
        EXPECT(x.wVirtualKeyCode == y.wVirtualKeyCode && x.wVirtualScanCode == y.wVirtualScanCode &&
               x.uChar.AsciiChar == y.uChar.AsciiChar && x.dwControlKeyState == y.dwControlKeyState);
    }
    return 0;
}
