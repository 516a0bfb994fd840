// The rigctld line protocol on any client's bytes (after a byte of piece sizes
// and readings' state): pieces answer as the whole; answers end their line;
// no RPRT line is positive; lines keep their limit; a quit ends on RPRT 0.
#include <algorithm>
#include <cstdint>
#include <string>
#include "expect.h"
#include "net/rigctl.h"

// The answers, then "q" if the client quit.
static std::string answer(const uint8_t* in, size_t size, uint8_t seed, const Readings& now) {
    RigctlLine line;
    std::string out;
    for (size_t at = 0, piece = 0; at < size; at += piece, seed = uint8_t(seed * 37 + 11)) {
        piece = seed == 0 ? size - at : std::min<size_t>(1 + seed % 7, size - at);
        std::string chunk(reinterpret_cast<const char*>(in + at), piece);  // exactly the piece, for the sanitizer
        rigctl_feed(line, chunk.data(), static_cast<int32_t>(piece), now, &out);
        EXPECT(line.length <= kRigctlLineMax);
    }
    return line.quit ? out + 'q' : out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 1) return 0;
    Readings now;
    now.state = input[0] & 3, now.have_pass = input[0] & 4, now.frequency_hz = 146250000, now.signal = input[0] * 4;
    std::string whole = answer(input + 1, size - 1, 0, now);
    EXPECT(whole == answer(input + 1, size - 1, input[0], now));
    bool quit = !whole.empty() && whole.back() == 'q';
    if (quit) whole.pop_back();
    EXPECT(whole.empty() || whole.back() == '\n');
    for (size_t at = whole.find("RPRT "); at != std::string::npos; at = whole.find("RPRT ", at + 1))
        if (at == 0 || whole[at - 1] == '\n')  // not an argument echoed in a header
            EXPECT(whole.compare(at, 6, "RPRT 0") == 0 || whole.compare(at, 6, "RPRT -") == 0);
    EXPECT(!quit || (whole.size() >= 7 && whole.compare(whole.size() - 7, 7, "RPRT 0\n") == 0));
    return 0;
}
