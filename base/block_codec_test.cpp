// The block codec against the link's own byte-at-a-time codec: the same
// bytes on the wire for every block, however the room or the reads cut it.
#include "base/block_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "link/link.h"
#include "tests/fake_line.h"

namespace tolvane {

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int TELNET_IAC = 0xFF;

// What link_put sends for data, with the doubled byte twice, as the line's
// byte path puts it on the wire.
Bytes link_wire(const Bytes& data, int doubled) {
    fake_line::reset();
    for (unsigned char b : data) link_put(b);
    Bytes wire;
    for (unsigned char b : fake_line::sent()) {
        if (b == doubled) wire.push_back(b);
        wire.push_back(b);
    }
    return wire;
}

// The whole of data escaped in pieces of at most room bytes each.
Bytes escaped_in_pieces(const Bytes& data, int doubled, size_t room) {
    Bytes wire;
    Bytes piece(room);
    for (size_t taken = 0; taken < data.size();) {
        size_t written = 0;
        const size_t n = block_escape(data.data() + taken, data.size() - taken, doubled, piece.data(), room, &written);
        if (n == 0) break;  // room too small for the next byte
        taken += n;
        wire.insert(wire.end(), piece.begin(), piece.begin() + static_cast<long>(written));
    }
    return wire;
}

// Decodes wire arriving in the given pieces into out of room bytes a call,
// as the line hands them on; stops at the field's end.
struct Decoded {
    Bytes data;
    size_t used = 0;
    bool ended = false;
};
Decoded decoded_in_pieces(const std::vector<Bytes>& pieces, size_t room) {
    Decoded d;
    block_decoder decoder;
    Bytes out(room);
    for (const Bytes& piece : pieces) {
        for (size_t at = 0; at < piece.size() && !decoder.ended;) {
            size_t stored = 0;
            const size_t used = block_decode(&decoder, piece.data() + at, piece.size() - at, out.data(), room, &stored);
            at += used;
            d.used += used;
            d.data.insert(d.data.end(), out.begin(), out.begin() + static_cast<long>(stored));
        }
    }
    d.ended = decoder.ended;
    return d;
}

Bytes random_bytes(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<unsigned char>(random());
    return b;
}

}  // namespace

// One call: what fits of a block, never half an escape at the room's end.
TEST(BlockEscape, TakesWholeBytesAsTheRoomAllows) {
    struct Case {
        const char* name;
        Bytes in;
        int doubled;
        size_t room;
        Bytes out;
        size_t taken;
    } cases[] = {
        {"plain bytes go as they are", {'a', 'b', 0x00, 0x80}, NO_DOUBLED_BYTE, 16, {'a', 'b', 0x00, 0x80}, 4},
        {"the three marks at both ends of the block", {0x02, 'a', 0x03, 'b', 0x10}, NO_DOUBLED_BYTE, 16,
         {0x10, 0x02, 'a', 0x10, 0x03, 'b', 0x10, 0x10}, 5},
        {"0x11 and 0x0F are no marks", {0x0F, 0x11, 0x01}, NO_DOUBLED_BYTE, 16, {0x0F, 0x11, 0x01}, 3},
        {"a mark at the last byte of room waits", {'a', 0x03}, NO_DOUBLED_BYTE, 2, {'a'}, 1},
        {"a plain byte takes the last byte of room", {'a', 'b', 'c'}, NO_DOUBLED_BYTE, 3, {'a', 'b', 'c'}, 3},
        {"an escape takes the last two", {'a', 0x10}, NO_DOUBLED_BYTE, 3, {'a', 0x10, 0x10}, 2},
        {"no room, nothing taken", {'a'}, NO_DOUBLED_BYTE, 0, {}, 0},
        {"an empty block", {}, NO_DOUBLED_BYTE, 8, {}, 0},
        {"0xFF on a telnet line goes twice", {0xFF, 0x10, 0xFE}, TELNET_IAC, 16, {0xFF, 0xFF, 0x10, 0x10, 0xFE}, 3},
        {"0xFF on a plain line goes once", {0xFF, 0x10}, NO_DOUBLED_BYTE, 16, {0xFF, 0x10, 0x10}, 2},
        {"a doubled 0xFF at the last byte of room waits", {'a', 0xFF}, TELNET_IAC, 2, {'a'}, 1},
        {"0xFF fills the room exactly", {0xFF, 0xFF}, TELNET_IAC, 4, {0xFF, 0xFF, 0xFF, 0xFF}, 2},
    };
    for (const Case& c : cases) {
        Bytes out(c.room + 4, 0xEE);  // bytes past the room stay untouched
        size_t written = 99;
        const size_t taken = block_escape(c.in.data(), c.in.size(), c.doubled, out.data(), c.room, &written);
        EXPECT_EQ(taken, c.taken) << c.name;
        ASSERT_EQ(written, c.out.size()) << c.name;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(written)), c.out) << c.name;
        EXPECT_EQ(Bytes(out.begin() + static_cast<long>(c.room), out.end()), Bytes(4, 0xEE)) << c.name;
    }
}

// Every byte value, in rooms of every size from the smallest up: the wire
// is link_put's, byte for byte, however the blocks fall.
TEST(BlockEscape, AnyRoomGivesTheLinksBytes) {
    Bytes data = random_bytes(3000, 7);
    for (int b = 0; b < 256; ++b) data.push_back(static_cast<unsigned char>(b));
    for (int doubled : {NO_DOUBLED_BYTE, TELNET_IAC}) {
        const Bytes expected = link_wire(data, doubled);
        for (size_t room : {2u, 3u, 4u, 5u, 7u, 64u, 1000u, 4096u, 16384u})
            EXPECT_EQ(escaped_in_pieces(data, doubled, room), expected) << "room " << room << " doubled " << doubled;
    }
}

// The field as it arrives in reads of the line, into a buffer of room bytes.
TEST(BlockDecode, TheFieldToItsEtxAcrossReads) {
    struct Case {
        const char* name;
        std::vector<Bytes> reads;
        size_t room;
        Bytes data;
        bool ended;
        size_t used;
    } cases[] = {
        {"DLE pairs are their second byte", {{0x10, 0x02, 0x10, 0x03, 0x10, 0x10, 0x10, 'a', 0x03}}, 16,
         {0x02, 0x03, 0x10, 'a'}, true, 9},
        {"a stray bare STX is the byte 02", {{'a', 0x02, 'b', 0x03}}, 16, {'a', 0x02, 'b'}, true, 4},
        {"bytes after the ETX are left", {{'a', 0x03, 'z', 0x03}}, 16, {'a'}, true, 2},
        {"a DLE at the end of one read takes the next read's first", {{'a', 0x10}, {0x03, 'b', 0x03}}, 16,
         {'a', 0x03, 'b'}, true, 5},
        {"the ETX alone in a read of its own", {{'a', 'b'}, {0x03}}, 16, {'a', 'b'}, true, 3},
        {"a DLE alone in a read", {{'a'}, {0x10}, {0x10}, {0x03}}, 16, {'a', 0x10}, true, 4},
        {"0xFF is data like any other", {{0xFF, 0xFF, 0x03}}, 16, {0xFF, 0xFF}, true, 3},
        {"no ETX yet", {{'a', 'b'}}, 16, {'a', 'b'}, false, 2},
        {"an empty field", {{0x03}}, 16, {}, true, 1},
        {"a room of one byte at a time", {{'a', 0x10, 0x02, 'b', 0x03}}, 1, {'a', 0x02, 'b'}, true, 5},
    };
    for (const Case& c : cases) {
        const Decoded d = decoded_in_pieces(c.reads, c.room);
        EXPECT_EQ(d.data, c.data) << c.name;
        EXPECT_EQ(d.ended, c.ended) << c.name;
        EXPECT_EQ(d.used, c.used) << c.name;
    }
}

// A full buffer ends the call before a DLE, never between a DLE and its
// byte: the DLE stays for the next call.
TEST(BlockDecode, AFullBufferLeavesTheDleForTheNextCall) {
    const Bytes wire = {'a', 0x10, 0x41, 0x03};
    block_decoder decoder;
    unsigned char out[1];
    size_t stored = 0;
    EXPECT_EQ(block_decode(&decoder, wire.data(), wire.size(), out, 1, &stored), 1u);
    EXPECT_EQ(stored, 1u);
    EXPECT_FALSE(decoder.after_dle);
    EXPECT_EQ(block_decode(&decoder, wire.data() + 1, 3, out, 1, &stored), 2u);
    EXPECT_EQ(stored, 1u);
    EXPECT_EQ(out[0], 0x41);
    EXPECT_EQ(block_decode(&decoder, wire.data() + 3, 1, out, 1, &stored), 1u);
    EXPECT_EQ(stored, 0u);
    EXPECT_TRUE(decoder.ended);
}

// What link_put sent, cut into reads of every size, comes back whole.
TEST(BlockDecode, TheLinksBytesInAnyReadsComeBack) {
    Bytes data = random_bytes(3000, 11);
    for (int b = 0; b < 256; ++b) data.push_back(static_cast<unsigned char>(b));
    Bytes wire = link_wire(data, NO_DOUBLED_BYTE);
    wire.push_back(BYTE_ETX);
    for (size_t read_size : {1u, 2u, 3u, 5u, 64u, 4096u}) {
        std::vector<Bytes> reads;
        for (size_t at = 0; at < wire.size(); at += read_size)
            reads.emplace_back(wire.begin() + static_cast<long>(at),
                               wire.begin() + static_cast<long>(std::min(wire.size(), at + read_size)));
        for (size_t room : {1u, 7u, 16384u}) {
            const Decoded d = decoded_in_pieces(reads, room);
            EXPECT_TRUE(d.ended) << read_size << " " << room;
            EXPECT_EQ(d.used, wire.size()) << read_size << " " << room;
            EXPECT_TRUE(d.data == data) << "reads of " << read_size << ", room " << room;
        }
    }
}

}  // namespace tolvane
