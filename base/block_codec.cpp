#include "base/block_codec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "link/link.h"

namespace tolvane {

namespace {

bool is_mark(unsigned char byte) { return byte == BYTE_STX || byte == BYTE_ETX || byte == BYTE_DLE; }

// Most bytes are above the marks and are not the doubled one: the test
// for them is one compare that rarely fails.
bool goes_as_itself(unsigned char byte, int doubled) {
    return byte > BYTE_DLE ? byte != doubled : !is_mark(byte);
}

// Eight bytes at a time: a word whose bytes are all unlike the ones looked
// for is passed over whole.
using word = uint64_t;
constexpr word ONES = 0x0101010101010101u;
constexpr word HIGHS = 0x8080808080808080u;

word spread(unsigned char byte) { return ONES * byte; }

// Nonzero when some byte of w equals the byte spread over pattern.
word has(word w, word pattern) {
    const word v = w ^ pattern;
    return (v - ONES) & ~v & HIGHS;
}

word load(const unsigned char* at) {
    word w;
    std::memcpy(&w, at, sizeof w);
    return w;
}

// How many bytes from in on, at most limit, go as they are.
size_t plain_run(const unsigned char* in, size_t limit, int doubled) {
    const word stx = spread(BYTE_STX), etx = spread(BYTE_ETX), dle = spread(BYTE_DLE);
    // With no doubled byte, the DLE stands in for it: no byte more is found.
    const word twice = doubled == NO_DOUBLED_BYTE ? dle : spread(static_cast<unsigned char>(doubled));
    size_t n = 0;
    for (; n + sizeof(word) <= limit; n += sizeof(word)) {
        const word w = load(in + n);
        if (has(w, stx) | has(w, etx) | has(w, dle) | has(w, twice)) break;
    }
    while (n < limit && goes_as_itself(in[n], doubled)) ++n;
    return n;
}

// How many bytes from in on, at most limit, are data as they are: up to
// the next DLE or ETX.
size_t data_run(const unsigned char* in, size_t limit) {
    const word etx = spread(BYTE_ETX), dle = spread(BYTE_DLE);
    size_t n = 0;
    for (; n + sizeof(word) <= limit; n += sizeof(word)) {
        const word w = load(in + n);
        if (has(w, etx) | has(w, dle)) break;
    }
    while (n < limit && in[n] != BYTE_DLE && in[n] != BYTE_ETX) ++n;
    return n;
}

}  // namespace

size_t block_escape(const unsigned char* in, size_t count, int doubled, unsigned char* out, size_t room,
                    size_t* written) {
    size_t taken = 0;
    size_t used = 0;
    for (;;) {
        // A run that goes as it is, copied whole; then one byte that goes
        // as two, while two bytes of room are left.
        const size_t run = plain_run(in + taken, std::min(count - taken, room - used), doubled);
        if (run > 0) std::memcpy(out + used, in + taken, run);  // an empty block may come as null
        taken += run;
        used += run;
        if (taken == count || room - used < 2) break;
        const unsigned char byte = in[taken++];
        out[used++] = byte == doubled ? byte : BYTE_DLE;
        out[used++] = byte;
    }
    *written = used;
    return taken;
}

size_t block_decode(block_decoder* decoder, const unsigned char* in, size_t count, unsigned char* out, size_t room,
                    size_t* stored) {
    size_t used = 0;
    size_t filled = 0;
    while (used < count && filled < room && !decoder->ended) {
        if (decoder->after_dle) {
            decoder->after_dle = false;
            out[filled++] = in[used++];
            continue;
        }
        // The run up to the next DLE or ETX is data as it is.
        const size_t limit = std::min(count - used, room - filled);
        const size_t run = data_run(in + used, limit);
        if (run > 0) std::memcpy(out + filled, in + used, run);
        used += run;
        filled += run;
        if (run == limit) break;
        decoder->after_dle = in[used] == BYTE_DLE;
        decoder->ended = in[used] == BYTE_ETX;
        ++used;
    }
    *stored = filled;
    return used;
}

}  // namespace tolvane
