// The terminal's key decoder on arbitrary bytes. Whatever arrives, every
// byte is used once the ESC wait is over, and each key is a key-down event
// with a scan code that the key table covers. Bytes that come in pieces
// must give the same keys as the same bytes read at once: a piece that
// ends inside a sequence waits for the rest instead of guessing.
//
// Input: a flags byte (UTF-8 locale, terminfo strings known, piece sizes),
// then the bytes from the terminal.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "expect.h"
#include "platform/posix/console_term.h"

using posix::term::KeyString;

namespace {

// What an xterm's terminfo entry names (a part of it).
const std::vector<KeyString>& xterm_keys() {
    static const std::vector<KeyString> keys = {
        {"\x1bOA", 72, 0},   {"\x1bOB", 80, 0},    {"\x1bOD", 75, 0},      {"\x1bOC", 77, 0},
        {"\x1bOH", 71, 0},   {"\x1bOF", 79, 0},    {"\x1b[5~", 73, 0},     {"\x1b[6~", 81, 0},
        {"\x1b[2~", 82, 0},  {"\x1b[3~", 83, 0},   {"\x1b[Z", 15, SHIFT_PRESSED},
        {"\x1bOP", 59, 0},   {"\x1b[15~", 63, 0},  {"\x1b[1;2P", 59, SHIFT_PRESSED},
        {"\x1b[24;5~", 88, LEFT_CTRL_PRESSED},
    };
    return keys;
}

bool same(const INPUT_RECORD& a, const INPUT_RECORD& b) {
    const KEY_EVENT_RECORD &x = a.Event.KeyEvent, &y = b.Event.KeyEvent;
    return a.EventType == b.EventType && x.bKeyDown == y.bKeyDown && x.wRepeatCount == y.wRepeatCount &&
           x.wVirtualKeyCode == y.wVirtualKeyCode && x.wVirtualScanCode == y.wVirtualScanCode &&
           x.uChar.AsciiChar == y.uChar.AsciiChar && x.dwControlKeyState == y.dwControlKeyState;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return -1;
    uint8_t flags = data[0];
    const unsigned char* bytes = data + 1;
    size_t count = size - 1;
    bool utf8 = flags & 1;
    static const std::vector<KeyString> none;
    const std::vector<KeyString>& known = flags & 2 ? xterm_keys() : none;

    std::vector<INPUT_RECORD> at_once;
    EXPECT(posix::term::decode_keys(bytes, count, true, known, utf8, &at_once) == count);
    EXPECT(at_once.size() <= count);
    for (const INPUT_RECORD& r : at_once) {
        EXPECT(r.EventType == KEY_EVENT && r.Event.KeyEvent.bKeyDown && r.Event.KeyEvent.wRepeatCount == 1);
        EXPECT(r.Event.KeyEvent.wVirtualScanCode <= 91);
    }

    // The same bytes in pieces of 1 to 8, kept while incomplete, as the
    // console's input queue keeps them between reads.
    std::vector<INPUT_RECORD> pieces;
    std::string pending;
    unsigned state = flags;
    for (size_t at = 0; at < count;) {
        state = state * 1103515245u + 12345u;
        size_t n = std::min<size_t>(count - at, 1 + (state >> 16) % 8);
        pending.append(reinterpret_cast<const char*>(bytes + at), n);
        at += n;
        size_t used = posix::term::decode_keys(reinterpret_cast<const unsigned char*>(pending.data()),
                                               pending.size(), false, known, utf8, &pieces);
        EXPECT(used <= pending.size());
        pending.erase(0, used);
    }
    EXPECT(posix::term::decode_keys(reinterpret_cast<const unsigned char*>(pending.data()), pending.size(), true,
                                    known, utf8, &pieces) == pending.size());
    EXPECT(pieces.size() == at_once.size());
    for (size_t i = 0; i < pieces.size(); ++i) EXPECT(same(pieces[i], at_once[i]));
    return 0;
}
