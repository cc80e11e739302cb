// XMODEM and YMODEM without a line: the other side is played byte by byte
// and the time is handed in, so each answer, retry and time-out is seen.
#include "terminal/xmodem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane {

namespace {

// A file in memory, sent or received.
struct memory_file : xm_reader, xm_writer {
    std::string data;
    size_t at = 0;
    std::vector<std::string> names;  // created, in order
    std::vector<long long> sizes;
    std::string finished;            // "whole " or "cut " per file
    bool refuse_create = false;
    long read(unsigned char* into, size_t count, std::string*) override {
        const size_t n = std::min(count, data.size() - at);
        data.copy(reinterpret_cast<char*>(into), n, at);
        at += n;
        return static_cast<long>(n);
    }
    bool create(const std::string& name, long long size, std::string* why) override {
        if (refuse_create) {
            *why = "refused";
            return false;
        }
        names.push_back(name);
        sizes.push_back(size);
        return true;
    }
    bool write(const unsigned char* bytes, size_t count, std::string*) override {
        data.append(reinterpret_cast<const char*>(bytes), count);
        return true;
    }
    void finish(bool whole) override { finished += whole ? "whole " : "cut "; }
};

std::string pattern(size_t size) {
    std::string s;
    for (size_t i = 0; i < size; ++i) s += static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// What the transfer sent, packet by packet: "h0" a 128-byte block 0, "H1"
// a 1K block 1, "eot", "ack", "nak", "C", "can"; "bad" for a packet whose
// number or CRC (or checksum) is wrong.
std::string packets(const std::string& out, bool crc) {
    std::string said;
    for (size_t i = 0; i < out.size();) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        std::string one;
        if (c == XM_SOH || c == XM_STX) {
            const size_t size = c == XM_STX ? 1024 : 128;
            const size_t whole = 3 + size + (crc ? 2 : 1);
            if (i + whole > out.size()) return said + "short";
            const unsigned char* p = reinterpret_cast<const unsigned char*>(out.data()) + i;
            const bool number_ok = p[1] == 255 - p[2];
            const bool sum_ok = crc ? xm_crc16(p + 3, size) == (p[3 + size] << 8 | p[4 + size])
                                    : xm_checksum(p + 3, size) == p[3 + size];
            one = number_ok && sum_ok ? (c == XM_STX ? "H" : "h") + std::to_string(p[1]) : "bad";
            i += whole;
        } else {
            one = c == XM_EOT ? "eot" : c == XM_ACK ? "ack" : c == XM_NAK ? "nak" : c == XM_CAN ? "can"
                  : c == 'C'  ? "C"
                              : "?";
            ++i;
        }
        said += (said.empty() ? "" : " ") + one;
    }
    return said;
}

// Takes what the transfer has to send, as the line would.
std::string take(xm_transfer& x, int64_t now) {
    const std::string out = x.out;
    xm_taken(x, out.size(), now);
    return out;
}

// One move of the other side: bytes it sends (after ms passed), and what
// the transfer answers.
struct move {
    std::string bytes;
    std::string answer;
    int64_t after_ms = 0;
};

struct sender_case {
    const char* what;
    xm_protocol protocol;
    size_t size;
    std::vector<move> moves;
    xm_outcome outcome;
    std::string why = {};
    bool crc = true;
};

const std::string ACK(1, XM_ACK), NAK(1, XM_NAK), CAN(1, XM_CAN), C = "C";

}  // namespace

TEST(Xmodem, CrcAndChecksum) {
    const struct {
        std::string bytes;
        uint16_t crc;
        unsigned char sum;
    } cases[] = {
        {"", 0x0000, 0x00},
        {"123456789", 0x31C3, 0xDD},  // the CRC-16/XMODEM check value
        {"A", 0x58E5, 0x41},
    };
    for (const auto& c : cases) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        EXPECT_EQ(xm_crc16(p, c.bytes.size()), c.crc) << c.bytes;
        EXPECT_EQ(xm_checksum(p, c.bytes.size()), c.sum) << c.bytes;
    }
}

TEST(Xmodem, SenderAnswersEachMove) {
    const std::vector<sender_case> cases = {
        {"YMODEM: header, 1K block, the tail in a small block, the closing header", xm_protocol::ymodem, 1100,
         {{C, "h0"}, {ACK + C, "H1"}, {ACK, "h2"}, {ACK, "eot"}, {NAK, "eot"}, {ACK + C, "h0"}, {ACK, ""}},
         xm_outcome::done},
        {"YMODEM: an empty file", xm_protocol::ymodem, 0, {{C, "h0"}, {ACK + C, "eot"}, {ACK + C, "h0"}, {ACK, ""}},
         xm_outcome::done},
        {"YMODEM: the header repeated while the receiver asks again", xm_protocol::ymodem, 10,
         {{C, "h0"}, {C, "h0"}, {ACK + C, "h1"}}, xm_outcome::running},
        {"XMODEM with CRC: 1K blocks", xm_protocol::xmodem, 2048,
         {{C, "H1"}, {ACK, "H2"}, {ACK, "eot"}, {ACK, ""}}, xm_outcome::done},
        {"XMODEM asked with NAK: 128-byte blocks with a checksum", xm_protocol::xmodem, 200,
         {{NAK, "h1"}, {ACK, "h2"}, {ACK, "eot"}, {ACK, ""}}, xm_outcome::done, "", false},
        {"a NAK'd block goes again", xm_protocol::xmodem, 2048, {{C, "H1"}, {NAK, "H1"}, {ACK, "H2"}},
         xm_outcome::running},
        {"noise between the answers is no answer", xm_protocol::xmodem, 2048, {{"xyz", ""}, {C, "H1"}, {"\r\n", ""}},
         xm_outcome::running},
        {"CAN CAN from the receiver", xm_protocol::ymodem, 10, {{C, "h0"}, {CAN + CAN, ""}}, xm_outcome::failed,
         "cancelled by the receiver"},
        {"one CAN alone is noise", xm_protocol::xmodem, 10, {{C, "h1"}, {CAN + "x", ""}, {ACK, "eot"}},
         xm_outcome::running},
        {"a block refused ten times", xm_protocol::xmodem, 10,
         {{C, "h1"}, {NAK, "h1"}, {NAK, "h1"}, {NAK, "h1"}, {NAK, "h1"}, {NAK, "h1"}, {NAK, "h1"}, {NAK, "h1"},
          {NAK, "h1"}, {NAK, "h1"}, {NAK, "h1"}, {NAK, "can can"}},
         xm_outcome::failed, "refused block 1 10 times"},
        {"a receiver silent for 20 s", xm_protocol::ymodem, 10, {{C, "h0"}, {"", "", 59999}, {ACK + C, "h1"}, {"", "", 19999}, {"", "can can", 1}},
         xm_outcome::failed, "the receiver is silent (20 s)"},
        {"rb lost the first block and asks again after 13 s", xm_protocol::ymodem, 10,
         {{C, "h0"}, {ACK + C, "h1"}, {"", "", 13000}, {C, "h1"}, {ACK, "eot"}}, xm_outcome::running},
        {"no receiver for a minute", xm_protocol::xmodem, 10, {{"", "", 59999}, {"", "can can", 1}},
         xm_outcome::failed, "no receiver asked for the file"},
        {"the board's text after EOT: the receiver is done", xm_protocol::xmodem, 10,
         {{C, "h1"}, {ACK, "eot"}, {"done\r\n", ""}}, xm_outcome::done},
        {"YMODEM: EOT's ACK lost, the next header asked for", xm_protocol::ymodem, 10,
         {{C, "h0"}, {ACK + C, "h1"}, {ACK, "eot"}, {C, "h0"}, {ACK, ""}}, xm_outcome::done},
        {"the closing header lost: rb asks again after 11 s", xm_protocol::ymodem, 0,
         {{C, "h0"}, {ACK + C, "eot"}, {ACK + C, "h0"}, {"", "", 11000}, {C, "h0"}, {ACK, ""}}, xm_outcome::done},
        {"the closing header unanswered, silence: the file was taken", xm_protocol::ymodem, 0,
         {{C, "h0"}, {ACK + C, "eot"}, {ACK + C, "h0"}, {"", "", 19999}, {"", "", 1}}, xm_outcome::done},
    };
    for (const sender_case& c : cases) {
        SCOPED_TRACE(c.what);
        memory_file file;
        file.data = pattern(c.size);
        xm_transfer x;
        int64_t now = 1000;
        xm_send_start(x, c.protocol, "dir/name.bin", static_cast<long long>(c.size), &file, now);
        std::string last_block;
        for (const move& m : c.moves) {
            now += m.after_ms;
            xm_feed(x, reinterpret_cast<const unsigned char*>(m.bytes.data()), m.bytes.size(), now);
            xm_tick(x, now);
            const std::string out = take(x, now);
            EXPECT_EQ(packets(out, c.crc), m.answer) << "after " << packets(m.bytes, c.crc);
            if (m.bytes == NAK && !last_block.empty() && out != CAN + CAN) {
                EXPECT_EQ(out, last_block) << "a block sent again is the same block";
            }
            if (!out.empty()) last_block = out;
        }
        EXPECT_EQ(static_cast<int>(x.outcome), static_cast<int>(c.outcome));
        EXPECT_NE(x.why.find(c.why), std::string::npos) << x.why;
    }
}

TEST(Xmodem, YmodemHeaderHoldsTheNameWithoutItsDirectoriesAndTheSize) {
    memory_file file;
    xm_transfer x;
    xm_send_start(x, xm_protocol::ymodem, "images/u-boot.img", 150000, &file, 0);
    xm_feed(x, reinterpret_cast<const unsigned char*>("C"), 1, 0);
    ASSERT_EQ(x.out.size(), 133u);
    EXPECT_EQ(x.out.substr(3, 20), std::string("u-boot.img\0" "150000\0\0\0", 20));
}

namespace {

// A packet as a YMODEM sender makes it, for the receiver.
std::string block(unsigned char number, const std::string& data, size_t size, bool damaged = false,
                  char pad = static_cast<char>(XM_PAD)) {
    std::string p(1, static_cast<char>(size == 1024 ? XM_STX : XM_SOH));
    p += static_cast<char>(number);
    p += static_cast<char>(255 - number);
    std::string body = data;
    body.resize(size, pad);
    p += body;
    uint16_t crc = xm_crc16(reinterpret_cast<const unsigned char*>(body.data()), size);
    if (damaged) crc ^= 1;
    p += static_cast<char>(crc >> 8);
    p += static_cast<char>(crc & 0xFF);
    return p;
}

std::string header(const std::string& fields) { return block(0, fields, 128, false, '\0'); }

struct receiver_case {
    const char* what;
    std::vector<move> moves;
    xm_outcome outcome;
    std::string data;        // what was written
    std::string finished;    // the files' ends
    std::string why = {};
};

}  // namespace

TEST(Xmodem, ReceiverAnswersEachMove) {
    const std::string a = pattern(1024), b = pattern(300);
    const std::string name_300 = std::string("n.bin\0" "300\0", 10);
    const std::vector<receiver_case> cases = {
        {"a file cut to its size, then the closing header",
         {{header(name_300), "ack C"}, {block(1, b, 1024), "ack"}, {std::string(1, XM_EOT), "ack C"},
          {header(""), "ack"}},
         xm_outcome::done, b, "whole "},
        {"a damaged block is NAK'd, its resend taken once, a repeat ACK'd",
         {{header(std::string("n\0", 2)), "ack C"}, {block(1, a, 1024, true), "nak"}, {block(1, a, 1024), "ack"},
          {block(1, a, 1024), "ack"}, {block(2, "xy", 128), "ack"}},
         xm_outcome::running, a + "xy" + std::string(126, XM_PAD), ""},
        {"a block in pieces, noise before it",
         {{"\r\nnoise", ""}, {header(name_300).substr(0, 50), ""}, {header(name_300).substr(50), "ack C"}},
         xm_outcome::running, "", ""},
        {"CAN CAN from the sender removes the file",
         {{header(name_300), "ack C"}, {block(1, b, 128), "ack"}, {CAN + CAN, ""}}, xm_outcome::failed,
         b.substr(0, 128), "cut ", "cancelled by the sender"},
        {"blocks out of step", {{header(name_300), "ack C"}, {block(3, b, 128), "can can"}}, xm_outcome::failed, "",
         "cut ", "out of step"},
        {"an XMODEM sender (no header)", {{block(1, b, 128), "can can"}}, xm_outcome::failed, "", "",
         "no YMODEM header"},
        {"asks again every 3 s, gives up after a minute",
         {{"", "", 2999}, {"", "C", 1}, {"", "C", 3000}, {"", "C", 53999}, {"", "can can", 1}},
         xm_outcome::failed, "", "", "no sender began"},
        {"a sender silent for 20 s in a file",
         {{header(name_300), "ack C"}, {"", "", 19999}, {"", "can can", 1}}, xm_outcome::failed, "", "cut ",
         "the sender is silent (20 s)"},
    };
    for (const receiver_case& c : cases) {
        SCOPED_TRACE(c.what);
        memory_file file;
        xm_transfer x;
        int64_t now = 0;
        xm_receive_start(x, &file, now);
        EXPECT_EQ(packets(take(x, now), true), "C");
        for (const move& m : c.moves) {
            now += m.after_ms;
            xm_feed(x, reinterpret_cast<const unsigned char*>(m.bytes.data()), m.bytes.size(), now);
            xm_tick(x, now);
            EXPECT_EQ(packets(take(x, now), true), m.answer) << "after " << packets(m.bytes, true);
        }
        EXPECT_EQ(static_cast<int>(x.outcome), static_cast<int>(c.outcome));
        EXPECT_EQ(file.data, c.data);
        EXPECT_EQ(file.finished, c.finished);
        EXPECT_NE(x.why.find(c.why), std::string::npos) << x.why;
    }
}

TEST(Xmodem, ReceiverRefusesANameItCannotCreate) {
    memory_file file;
    file.refuse_create = true;
    xm_transfer x;
    xm_receive_start(x, &file, 0);
    take(x, 0);
    const std::string h = header(std::string("n\0" "5\0", 4));
    xm_feed(x, reinterpret_cast<const unsigned char*>(h.data()), h.size(), 0);
    EXPECT_EQ(packets(take(x, 0), true), "can can");
    EXPECT_EQ(x.why, "refused");
}

// The sender and the receiver against each other: every size arrives
// whole, cut to the header's size.
TEST(Xmodem, YmodemSendsEverySizeToItsOwnReceiver) {
    for (const size_t size : {0, 1, 127, 128, 129, 1023, 1024, 1025, 150000}) {
        SCOPED_TRACE(size);
        memory_file source, sink;
        source.data = pattern(size);
        xm_transfer sender, receiver;
        xm_send_start(sender, xm_protocol::ymodem, "f.bin", static_cast<long long>(size), &source, 0);
        xm_receive_start(receiver, &sink, 0);
        for (int turn = 0; turn < 1000 && receiver.outcome == xm_outcome::running; ++turn) {
            const std::string to_sender = take(receiver, 0);
            xm_feed(sender, reinterpret_cast<const unsigned char*>(to_sender.data()), to_sender.size(), 0);
            const std::string to_receiver = take(sender, 0);
            xm_feed(receiver, reinterpret_cast<const unsigned char*>(to_receiver.data()), to_receiver.size(), 0);
        }
        const std::string last = take(receiver, 0);
        xm_feed(sender, reinterpret_cast<const unsigned char*>(last.data()), last.size(), 0);
        EXPECT_EQ(static_cast<int>(receiver.outcome), static_cast<int>(xm_outcome::done));
        EXPECT_EQ(static_cast<int>(sender.outcome), static_cast<int>(xm_outcome::done));
        EXPECT_EQ(sink.names, std::vector<std::string>{"f.bin"});
        EXPECT_EQ(sink.sizes, std::vector<long long>{static_cast<long long>(size)});
        EXPECT_TRUE(sink.data == source.data) << "the data arrived changed";
        EXPECT_EQ(sender.bytes_done, static_cast<long long>(size));
    }
}

}  // namespace tolvane
