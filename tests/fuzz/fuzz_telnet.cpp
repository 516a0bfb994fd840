// The RFC 2217 client's decoder on what a hostile server might send: pieces
// decode as the whole, within the caller's room; an option is refused at most
// once a side (no two peers answer each other for ever); data comes out whole.
// Input: a byte of piece sizes, then the server's bytes.
#include <cstdint>
#include <cstring>
#include <vector>
#include "expect.h"
#include "platform/posix/telnet.h"

using posix::TelnetState;

namespace {

struct Decoded {
    std::vector<uint8_t> data, reply;
    TelnetState state;
};

// Each piece in buffers of exactly the promised room, so that the address
// sanitizer sees any write past it.
Decoded decode(const uint8_t* in, size_t size, uint8_t seed) {
    Decoded d;
    for (size_t at = 0, piece = 0; at < size; at += piece, seed = uint8_t(seed * 37 + 11)) {
        piece = seed == 0 ? size - at : 1 + seed % 7;
        if (piece > size - at) piece = size - at;
        std::vector<uint8_t> chunk(in + at, in + at + piece), data(piece), reply(piece + 2);
        size_t answered = 0;
        size_t got = posix::telnet_decode(d.state, chunk.data(), piece, data.data(), reply.data(), &answered);
        EXPECT(got <= piece && answered <= piece + 2);
        d.data.insert(d.data.end(), data.begin(), data.begin() + got);
        d.reply.insert(d.reply.end(), reply.begin(), reply.begin() + answered);
    }
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 1) return 0;
    const uint8_t* bytes = input + 1;
    size_t count = size - 1;

    Decoded whole = decode(bytes, count, 0), split = decode(bytes, count, input[0]);
    EXPECT(whole.data == split.data && whole.reply == split.reply);
    EXPECT(whole.state.reported == split.state.reported && whole.state.baud == split.state.baud &&
           whole.state.com_port == split.state.com_port);
    EXPECT(whole.reply.size() % 3 == 0 && whole.reply.size() <= 3 * 512);
    for (size_t i = 0; i < whole.reply.size(); i += 3)
        EXPECT(whole.reply[i] == posix::TELNET_IAC &&
               (whole.reply[i + 1] == posix::TELNET_WONT || whole.reply[i + 1] == posix::TELNET_DONT));

    // The same bytes as serial data, sent the way the client sends them.
    std::vector<uint8_t> wire;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == posix::TELNET_IAC) wire.push_back(bytes[i]);
        wire.push_back(bytes[i]);
    }
    Decoded data = decode(wire.data(), wire.size(), input[0]);
    EXPECT(data.data == std::vector<uint8_t>(bytes, bytes + count) && data.reply.empty());
    return 0;
}
