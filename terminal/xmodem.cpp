#include "terminal/xmodem.h"

#include <algorithm>

namespace tolvane {

namespace {

using phase = xm_transfer::phase;

constexpr size_t SMALL_BLOCK = 128;
constexpr size_t BIG_BLOCK = 1024;
// A header's name is cut to this; the rest of its block holds the size.
constexpr size_t HEADER_NAME_MAX = 900;

int64_t later(int64_t a, int64_t b) { return a > b ? a : b; }

// The transfer ends. Unless the other side cancelled, it is told with
// CAN CAN; what had not gone out yet is dropped.
void end(xm_transfer& x, xm_outcome outcome, const std::string& why, bool tell) {
    if (x.outcome != xm_outcome::running) return;
    x.outcome = outcome;
    x.why = why;
    x.at = phase::finished;
    if (tell) x.out.assign({static_cast<char>(XM_CAN), static_cast<char>(XM_CAN)});
    if (x.writer && x.file_open) x.writer->finish(false);
    x.file_open = false;
}

void fail(xm_transfer& x, const std::string& why) { end(x, xm_outcome::failed, why, true); }

// SOH or STX, the number and its complement, the data padded to the
// block's size, then CRC-16 (high byte first) or the checksum.
std::string packet(unsigned char number, const unsigned char* data, size_t count, size_t size, bool crc,
                   unsigned char pad) {
    std::string p;
    p.reserve(size + 5);
    p += static_cast<char>(size == BIG_BLOCK ? XM_STX : XM_SOH);
    p += static_cast<char>(number);
    p += static_cast<char>(255 - number);
    p.append(reinterpret_cast<const char*>(data), count);
    p.append(size - count, static_cast<char>(pad));
    const unsigned char* body = reinterpret_cast<const unsigned char*>(p.data()) + 3;
    if (crc) {
        const uint16_t sum = xm_crc16(body, size);
        p += static_cast<char>(sum >> 8);
        p += static_cast<char>(sum & 0xFF);
    } else {
        p += static_cast<char>(xm_checksum(body, size));
    }
    return p;
}

void put(xm_transfer& x, const std::string& bytes) { x.out += bytes; }
void put(xm_transfer& x, unsigned char byte) { x.out += static_cast<char>(byte); }

// Block 0 of YMODEM: "name\0size\0", zeros after; empty it closes the batch.
void send_header(xm_transfer& x, bool closing) {
    std::string body;
    if (!closing) {
        body = x.name.substr(0, HEADER_NAME_MAX);
        body += '\0';
        body += std::to_string(x.size);
        body += '\0';
    }
    const size_t size = body.size() <= SMALL_BLOCK ? SMALL_BLOCK : BIG_BLOCK;
    x.packet = packet(0, reinterpret_cast<const unsigned char*>(body.data()), body.size(), size, true, 0);
    put(x, x.packet);
    x.retries = 0;
}

// The next block of the file, or EOT at its end. The tail that fits in
// 128 bytes goes in a small block, so XMODEM pads it less.
void send_next_block(xm_transfer& x) {
    unsigned char data[BIG_BLOCK];
    const size_t want = x.big_blocks ? BIG_BLOCK : SMALL_BLOCK;
    size_t count = 0;
    while (!x.file_read_out && count < want) {
        std::string why;
        const long n = x.reader->read(data + count, want - count, &why);
        if (n < 0) return fail(x, why);
        if (n == 0) x.file_read_out = true;
        count += static_cast<size_t>(n);
    }
    x.retries = 0;
    if (count == 0) {
        x.packet.assign(1, static_cast<char>(XM_EOT));
        x.at = phase::eot_ack;
    } else {
        ++x.block;
        x.packet = packet(x.block, data, count, count <= SMALL_BLOCK ? SMALL_BLOCK : BIG_BLOCK, x.crc, XM_PAD);
        x.at = phase::block_ack;
    }
    put(x, x.packet);
}

// The data bytes of the block in flight (without its padding): known
// from the block's size and how much of the file it held.
long long data_in_block(const xm_transfer& x) {
    const long long block = static_cast<long long>(x.packet.size()) - (x.crc ? 5 : 4);
    if (x.bytes_total < 0) return block;
    return std::min(block, x.bytes_total - x.bytes_done);
}

void resend(xm_transfer& x) {
    if (++x.retries > XM_RETRIES_MAX) {
        const std::string what = x.at == phase::eot_ack   ? "the end"
                                 : x.at == phase::end_ack ? "the closing header"
                                                          : "block " + std::to_string(x.block);
        return fail(x, "the receiver refused " + what + " " + std::to_string(XM_RETRIES_MAX) + " times");
    }
    put(x, x.packet);
}

// One answer from the receiver.
void sender_byte(xm_transfer& x, unsigned char c) {
    const bool go = c == XM_CRC_START || (c == XM_NAK && x.protocol == xm_protocol::xmodem);
    switch (x.at) {
    case phase::start:
        if (!go) return;
        x.crc = x.big_blocks = c == XM_CRC_START;
        if (x.protocol == xm_protocol::ymodem) {
            send_header(x, false);
            x.at = phase::header_ack;
        } else {
            send_next_block(x);
        }
        return;
    case phase::header_ack:
        if (c == XM_ACK) x.at = phase::data_start;
        else if (c == XM_NAK || c == XM_CRC_START) resend(x);
        return;
    case phase::data_start:
        if (c == XM_CRC_START || c == XM_NAK) send_next_block(x);
        return;
    case phase::block_ack:
        if (c == XM_ACK) {
            x.bytes_done += data_in_block(x);
            send_next_block(x);
        } else if (c == XM_NAK || (c == XM_CRC_START && x.block == 1)) {
            resend(x);  // the first block may cross the receiver's next 'C'
        }
        return;
    case phase::eot_ack:
        if (c == XM_CRC_START && x.protocol == xm_protocol::ymodem) {
            send_header(x, true);  // its ACK was lost: it asks for the next header
            x.at = phase::end_ack;
        } else if (c == XM_NAK) {
            resend(x);
        } else if (c == XM_ACK) {
            if (x.protocol == xm_protocol::xmodem) return end(x, xm_outcome::done, "", false);
            x.at = phase::end_start;
        }
        return;
    case phase::end_start:
        if (c == XM_CRC_START || c == XM_NAK) {
            send_header(x, true);
            x.at = phase::end_ack;
        }
        return;
    case phase::end_ack:
        if (c == XM_ACK) end(x, xm_outcome::done, "", false);
        else if (c == XM_NAK || c == XM_CRC_START) resend(x);
        return;
    case phase::receiving:
    case phase::finished: return;
    }
}

// "name\0size ...": the name up to its NUL, the size in decimal after it.
void header_fields(const std::string& data, std::string* name, long long* size) {
    const size_t nul = data.find('\0');
    *name = data.substr(0, nul);
    *size = -1;
    if (nul == std::string::npos) return;
    long long value = 0;
    size_t i = nul + 1, digits = 0;
    for (; i < data.size() && data[i] >= '0' && data[i] <= '9' && digits < 18; ++i, ++digits)
        value = value * 10 + (data[i] - '0');
    if (digits > 0) *size = value;
}

void ask_for_header(xm_transfer& x, int64_t now) {
    x.at = phase::start;
    x.block = 0;
    put(x, XM_CRC_START);
    x.ask_at = now + XM_ASK_MS;
}

void take_header(xm_transfer& x, const std::string& data) {
    std::string name;
    long long size;
    header_fields(data, &name, &size);
    if (name.empty()) {
        put(x, XM_ACK);
        return end(x, xm_outcome::done, "", false);
    }
    std::string why;
    if (!x.writer->create(name, size, &why)) return fail(x, why);
    x.file_open = true;
    x.file_left = size;
    x.bytes_done = 0;
    x.bytes_total = size;
    x.name = name;
    put(x, XM_ACK);
    put(x, XM_CRC_START);
    x.at = phase::receiving;
    x.block = 1;
}

void take_data(xm_transfer& x, const std::string& data) {
    size_t count = data.size();
    if (x.file_left >= 0) count = static_cast<size_t>(std::min<long long>(x.file_left, count));
    std::string why;
    if (count > 0 && !x.writer->write(reinterpret_cast<const unsigned char*>(data.data()), count, &why))
        return fail(x, why);
    if (x.file_left >= 0) x.file_left -= static_cast<long long>(count);
    x.bytes_done += static_cast<long long>(count);
    put(x, XM_ACK);
    ++x.block;
}

// A whole packet came: checked, then taken, answered or refused.
void take_packet(xm_transfer& x) {
    const std::string& p = x.incoming;
    const unsigned char number = static_cast<unsigned char>(p[1]);
    const size_t size = p.size() - 5;
    const std::string data = p.substr(3, size);
    const uint16_t sum = static_cast<uint16_t>(static_cast<unsigned char>(p[3 + size]) << 8 |
                                               static_cast<unsigned char>(p[4 + size]));
    const bool sound = static_cast<unsigned char>(p[2]) == 255 - number &&
                       xm_crc16(reinterpret_cast<const unsigned char*>(data.data()), size) == sum;
    x.incoming.clear();
    if (!sound) {
        if (++x.retries > XM_RETRIES_MAX) return fail(x, "too many damaged blocks");
        return put(x, XM_NAK);
    }
    x.retries = 0;
    if (x.at == phase::start) {
        if (number == 0) return take_header(x, data);
        return fail(x, "the sender sent no YMODEM header");
    }
    if (number == x.block) return take_data(x, data);
    if (number == static_cast<unsigned char>(x.block - 1)) return put(x, XM_ACK);  // our ACK was lost
    if (number == 0 && x.block == 1) {
        put(x, XM_ACK);
        return put(x, XM_CRC_START);
    }
    fail(x, "blocks out of step");
}

void receiver_byte(xm_transfer& x, unsigned char c, int64_t now) {
    if (!x.incoming.empty()) {
        x.incoming += static_cast<char>(c);
        if (x.incoming.size() == x.incoming_size) take_packet(x);
        return;
    }
    if (c == XM_SOH || c == XM_STX) {
        x.incoming_size = 3 + (c == XM_STX ? BIG_BLOCK : SMALL_BLOCK) + 2;
        x.incoming += static_cast<char>(c);
        x.silent_until = now + XM_SILENCE_MS;
    } else if (c == XM_EOT && x.at == phase::receiving) {
        put(x, XM_ACK);
        x.writer->finish(true);
        x.file_open = false;
        ++x.files;
        x.silent_until = now + XM_SILENCE_MS;
        ask_for_header(x, now);
    }
}

}  // namespace

uint16_t xm_crc16(const unsigned char* bytes, size_t count) {
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc = static_cast<uint16_t>(crc ^ bytes[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

unsigned char xm_checksum(const unsigned char* bytes, size_t count) {
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<unsigned char>(sum);
}

void xm_send_start(xm_transfer& x, xm_protocol protocol, const std::string& name, long long size,
                   xm_reader* reader, int64_t now_ms) {
    x = xm_transfer{};
    x.sending = true;
    x.protocol = protocol;
    const size_t slash = name.find_last_of("/\\");
    x.name = slash == std::string::npos ? name : name.substr(slash + 1);
    x.size = size;
    x.bytes_total = size;
    x.reader = reader;
    x.silent_until = now_ms + XM_START_MS;
}

void xm_receive_start(xm_transfer& x, xm_writer* writer, int64_t now_ms) {
    x = xm_transfer{};
    x.sending = false;
    x.writer = writer;
    x.silent_until = now_ms + XM_START_MS;
    ask_for_header(x, now_ms);
}

size_t xm_feed(xm_transfer& x, const unsigned char* bytes, size_t count, int64_t now_ms) {
    size_t used = 0;
    while (used < count && x.outcome == xm_outcome::running) {
        const unsigned char c = bytes[used++];
        const bool in_packet = !x.sending && !x.incoming.empty();
        if (!in_packet && c == XM_CAN) {
            if (++x.cans >= 2) end(x, xm_outcome::failed, x.sending ? "cancelled by the receiver" : "cancelled by the sender", false);
            continue;
        }
        if (!in_packet) x.cans = 0;
        // After the last block the board's text means the receiver is done
        // (lrzsz may leave the end unanswered as it exits).
        const bool after_data = x.at == phase::end_ack || x.at == phase::eot_ack;
        if (x.sending && after_data && x.out.empty() && c != XM_ACK && c != XM_NAK && c != XM_CRC_START) {
            end(x, xm_outcome::done, "", false);
            return used - 1;  // the board's text after the batch
        }
        if (x.sending) {
            // Answers count once the block is all out: until then a stray
            // byte (the receiver's 'C' repeated) answers nothing.
            if (!x.out.empty()) continue;
            x.acked = x.acked || c == XM_ACK;
            if (c == XM_ACK || c == XM_NAK || c == XM_CRC_START)
                x.silent_until = now_ms + (x.acked ? XM_SILENCE_MS : XM_START_MS);
            sender_byte(x, c);
        } else {
            receiver_byte(x, c, now_ms);
        }
    }
    return used;
}

void xm_tick(xm_transfer& x, int64_t now_ms) {
    if (x.outcome != xm_outcome::running) return;
    if (!x.sending && x.at == phase::start && x.incoming.empty() && now_ms >= x.ask_at) {
        put(x, XM_CRC_START);
        x.ask_at = now_ms + XM_ASK_MS;
    }
    if (now_ms < x.silent_until || (x.sending && !x.out.empty())) return;
    // Every block was taken: a receiver that ends without answering the
    // closing header (and prints nothing) has the file all the same.
    if (x.sending && x.at == phase::end_ack) return end(x, xm_outcome::done, "", false);
    const bool began = x.sending ? x.at != phase::start : x.files > 0 || x.at != phase::start;
    if (!began)
        fail(x, x.sending ? "no receiver asked for the file" : "no sender began");
    else
        fail(x, std::string(x.sending ? "the receiver" : "the sender") + " is silent (" +
                std::to_string(XM_SILENCE_MS / 1000) + " s)");
}

int64_t xm_next_tick(const xm_transfer& x) {
    if (!x.sending && x.at == phase::start) return std::min(x.ask_at, x.silent_until);
    return x.silent_until;
}

void xm_taken(xm_transfer& x, size_t count, int64_t sent_ms) {
    x.out.erase(0, std::min(count, x.out.size()));
    if (!x.out.empty() || !x.sending || count == 0) return;
    x.silent_until = later(x.silent_until, sent_ms + (x.acked ? XM_SILENCE_MS : XM_START_MS));
}

void xm_cancel(xm_transfer& x, const std::string& why) { fail(x, why); }

}  // namespace tolvane
