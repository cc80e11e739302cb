// XMODEM and YMODEM as state machines, free of I/O: the board's bytes are
// fed in, the bytes to send are taken out, and the time is handed in as
// milliseconds on a steady clock. Files are reached through the two small
// interfaces below, so the same code runs on the host's files and on a
// test's memory.
//
// Sending: XMODEM with 1K blocks and CRC-16 when the receiver starts with
// 'C', 128-byte blocks with a checksum when it starts with NAK; YMODEM with
// the batch header (name and size), 1K blocks, CRC-16 and the closing empty
// header. Receiving: YMODEM batches, CRC-16, blocks of 128 or 1024.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane {

constexpr unsigned char XM_SOH = 0x01;
constexpr unsigned char XM_STX = 0x02;
constexpr unsigned char XM_EOT = 0x04;
constexpr unsigned char XM_ACK = 0x06;
constexpr unsigned char XM_NAK = 0x15;
constexpr unsigned char XM_CAN = 0x18;
constexpr unsigned char XM_CRC_START = 'C';
constexpr unsigned char XM_PAD = 0x1A;  // fills the last block

// Silence of the other side that ends a transfer once it has begun; until
// the first ACK the other side gets XM_START_MS (lrzsz asks only every ten
// seconds or so, and may miss the first block while it sets its line up).
// The limit is longer than the other side's own retry clock: lrzsz's rb
// throws away its input just after each answer, so a quick sender's block
// can be lost, and rb asks for the first block again only after 13 s.
// Giving up first would end a transfer that was about to go on.
constexpr int64_t XM_SILENCE_MS = 20000;
constexpr int64_t XM_START_MS = 60000;
// A receiver asks again for the first block this often.
constexpr int64_t XM_ASK_MS = 3000;
// Answers that refuse one block before the transfer is given up.
constexpr int XM_RETRIES_MAX = 10;

enum class xm_protocol { xmodem, ymodem };
enum class xm_outcome { running, done, failed };

// The file a sender reads, front to back: the count read (0 at its end),
// or -1 on an error, the reason in *why.
struct xm_reader {
    virtual ~xm_reader() = default;
    virtual long read(unsigned char* into, size_t count, std::string* why) = 0;
};

// Where a receiver puts the files of a batch: create from a header (size
// -1 when it gave none), the data in order, then finish (whole: the batch
// closed it, else the transfer failed). False with the reason in *why.
struct xm_writer {
    virtual ~xm_writer() = default;
    virtual bool create(const std::string& name, long long size, std::string* why) = 0;
    virtual bool write(const unsigned char* bytes, size_t count, std::string* why) = 0;
    virtual void finish(bool whole) = 0;
};

uint16_t xm_crc16(const unsigned char* bytes, size_t count);
unsigned char xm_checksum(const unsigned char* bytes, size_t count);

struct xm_transfer {
    enum class phase {
        start,         // sender: waits for 'C' or NAK; receiver: asks with 'C'
        header_ack,    // sender: the YMODEM header went out
        data_start,    // sender: its header was taken, waits for 'C'
        block_ack,     // sender: a data block went out
        eot_ack,       // sender: EOT went out
        end_start,     // sender: waits for 'C' before the closing header
        end_ack,       // sender: the closing header went out
        receiving,     // receiver: blocks and EOT
        finished,
    };
    bool sending = true;
    xm_protocol protocol = xm_protocol::ymodem;
    phase at = phase::start;
    xm_outcome outcome = xm_outcome::running;
    std::string why;  // failed: the reason
    xm_reader* reader = nullptr;
    xm_writer* writer = nullptr;

    // Sender: the header's name and size, the block mode.
    std::string name;
    long long size = 0;
    bool crc = true;
    bool big_blocks = true;
    std::string packet;  // the block in flight, for a resend
    bool file_read_out = false;
    int retries = 0;
    bool acked = false;  // the receiver has taken something
    unsigned char block = 0;  // the number of the block in flight, or expected

    // Receiver: a block coming in, the file in hand.
    std::string incoming;
    size_t incoming_size = 0;  // the whole packet's, once its first byte is in
    bool file_open = false;
    long long file_left = -1;  // bytes the header's size still allows; -1: no size
    int files = 0;             // files received whole

    std::string out;  // bytes to send, oldest first
    int cans = 0;     // CAN in a row
    int64_t silent_until = 0;
    int64_t ask_at = 0;
    long long bytes_done = 0;  // data bytes answered with ACK (sender) or written (receiver)
    long long bytes_total = -1;
};

// Begins sending the file reader gives: name and size go into the YMODEM
// header (name without its directories).
void xm_send_start(xm_transfer& x, xm_protocol protocol, const std::string& name, long long size,
                   xm_reader* reader, int64_t now_ms);
// Begins receiving a YMODEM batch into writer: asks with 'C' at once.
void xm_receive_start(xm_transfer& x, xm_writer* writer, int64_t now_ms);

// The other side's bytes. Takes them all while the transfer runs; once it
// has ended the rest is not its own (the board's text after it).
size_t xm_feed(xm_transfer& x, const unsigned char* bytes, size_t count, int64_t now_ms);
// The time passed: a silent other side ends the transfer, a receiver asks
// again.
void xm_tick(xm_transfer& x, int64_t now_ms);
// When xm_tick has something to do.
int64_t xm_next_tick(const xm_transfer& x);
// Bytes taken from x.out for the line, sent by sent_ms (the silence
// counts from then on).
void xm_taken(xm_transfer& x, size_t count, int64_t sent_ms);
// Esc, Ctrl-Q, the run's end: CAN CAN to the other side, failed with why.
void xm_cancel(xm_transfer& x, const std::string& why);

}  // namespace tolvane
