// One kind of line as a platform carries it: a tty, a COM port, a TCP
// connection with or without telnet. The shared line (base/line.h) keeps
// the buffers and the line's state; a transport only moves bytes and sets
// its line up. Each is one file per platform; a new line operation is one
// function in each.
#pragma once

#include <cstddef>
#include <string>

#include "base/block_codec.h"
#include "base/settings.h"

namespace tolvane {

// What the platform's one wait watches (posix/wait.h, win32/wait.h): each
// transport hands in its own handles, so the wait never needs to know
// which kind of line it has.
struct wait_set;
struct wait_watch;

// What a read or a write answers when the line failed.
constexpr long LINE_FAILED = -1;

// The modem lines, as far as a line can tell: those it knows in known,
// the ones of them that are on in on.
enum : unsigned { MODEM_DTR = 1, MODEM_RTS = 2, MODEM_CTS = 4, MODEM_DSR = 8, MODEM_CD = 16, MODEM_RI = 32 };
struct modem_state {
    unsigned known = 0;
    unsigned on = 0;
};

class line_transport {
public:
    virtual ~line_transport() = default;

    // Takes what has arrived, without waiting: the count, 0 when nothing
    // has, or LINE_FAILED.
    virtual long read(unsigned char* buffer, size_t size) = 0;
    // Hands bytes to the line without waiting: how many it took (0: none
    // now), or LINE_FAILED.
    virtual long write(const unsigned char* bytes, size_t count) = 0;
    // The byte the wire carries doubled (telnet's 0xFF), or NO_DOUBLED_BYTE:
    // every other byte goes as itself.
    virtual int doubled_byte() const { return NO_DOUBLED_BYTE; }
    // A data byte as the wire carries it; returns 1 or 2 (wire_bytes_max).
    size_t encode(int byte, unsigned char* wire) const {
        wire[0] = wire[1] = static_cast<unsigned char>(byte);
        return byte == doubled_byte() ? 2 : 1;
    }
    // The most bytes one data byte becomes on the wire.
    size_t wire_bytes_max() const { return doubled_byte() == NO_DOUBLED_BYTE ? 1 : 2; }
    // The transport's own bytes for the other end (telnet answers), due
    // before the next data: moved into dest, at most room.
    virtual size_t take_output(unsigned char* dest, size_t room) {
        (void)dest;
        (void)room;
        return 0;
    }
    // Bytes received before the line was handed over, not read yet.
    virtual size_t input_held() const { return 0; }
    // Bytes taken by write that have not left yet (the driver's queue, a
    // write in flight); 0 where it cannot tell.
    virtual size_t unsent() { return 0; }
    // Ends the line. drained: all output has left, so the line's settings
    // may come back behind it; else what is still held is dropped. ms
    // bounds the goodbye of a network line. False when the transport must
    // not be freed (an operation that never ended may still write into it).
    virtual bool close(bool drained, int ms) = 0;
    // The line went away: closed without waiting for anything; as close.
    virtual bool let_go() = 0;
    // The speed in force, in Baud (the driver's, a little off the one
    // asked for; a network line's as asked).
    virtual long speed() const = 0;

    // The break condition (the output held at space) on or off, at once;
    // false where the line cannot give one (a pty, a raw TCP line). A
    // telnet line queues the command for take_output.
    virtual bool set_break(bool on) {
        (void)on;
        return false;
    }
    // DTR or RTS to a level now; false where the line has no such line.
    virtual bool set_modem_line(modem_line line, bool on) {
        (void)line;
        (void)on;
        return false;
    }
    // A new speed in Baud, at once, the frame kept; false where the line
    // cannot change it (a raw TCP line) or the driver refused it. A
    // telnet line queues the command for take_output.
    virtual bool set_speed(long baud) {
        (void)baud;
        return false;
    }
    // The frame and the flow control of frame (its data_bits, parity,
    // stop_bits, flow) at once, the speed kept; false where the line cannot
    // change them or the driver did not take them all (the old stay). A
    // telnet line queues the commands for take_output.
    virtual bool set_frame(const line_settings& frame) {
        (void)frame;
        return false;
    }
    // Drops what the driver holds: bytes received and not read yet
    // (input), bytes written and not sent yet (output). A telnet line asks
    // its server to.
    virtual void purge(bool input, bool output) {
        (void)input;
        (void)output;
    }
    // The modem lines as the driver has them now; what it cannot tell is
    // left out of state->known.
    virtual void read_modem_lines(modem_state* state) { (void)state; }
    // Puts what the wait must watch for this line into set.
    virtual void add_waits(wait_set* set) { (void)set; }

    // After LINE_FAILED: why (for "read: DEVICE: why"), and whether the
    // line went away (a board reset or unplugged, a connection reset) and
    // may come back, rather than failed for good.
    std::string why;
    bool went_away = false;
    // Whether its name can bring back a line that went away (-w). A pty
    // named by its number cannot: the number goes to the next pty made,
    // another program's.
    bool comes_back = true;
};

// How an open went: opened, the device is not there (yet), the system
// denies it (a node udev has not given its group yet), or it failed for
// another reason. message: what to say about it, a whole line.
enum class open_result { opened, absent, denied, failed };
struct open_outcome {
    open_result result = open_result::failed;
    std::string message;
};

// Each platform's two kinds of line. first: the first open of the run
// (the reset pulse is given then only). A device opens quietly: its
// outcome says what to say. A network line says why it failed itself,
// unless quiet (a reconnect: then only a server's refusal, once).
line_transport* device_transport_open(const line_settings& settings, bool first, open_outcome* outcome);
// watch: what the waits of a slow connect watch beside it.
line_transport* network_transport_open(const line_settings& settings, bool first, bool quiet, const wait_watch& watch);
// unix:PATH (posix/unix_line.cpp, win32/unix_line.cpp), reached through
// network_transport_open; says why it failed unless quiet.
line_transport* local_transport_open(const line_settings& settings, const std::string& path, bool quiet);

}  // namespace tolvane
