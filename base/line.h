// The session's line, whatever carries it (base/line_transport.h).
// Bytes from it are read in blocks into a buffer, which the terminal takes
// from as it is (line_in_hand); bytes for it are queued (line_put_raw,
// line_put_data) without waiting and written in blocks whenever the line
// takes them, in the terminal's wait and on every way out.
//
// The line's states live here once: gone (-w: it went away and is waited
// for; what is queued for it is dropped), back, and the last output on the
// way out.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "base/line_transport.h"
#include "base/settings.h"
#include "base/stop.h"
#include "base/wait.h"

namespace tolvane {

// One line as the session holds it: its transport, the bytes read and not
// yet taken, the output queue, and its states (gone under -w, lent, the
// last output on the way out). Every line_ function and every wait takes
// it; the session owns it. While open it stays put: the ways out hold its
// address.
struct line_state {
    // One read takes whatever a fast USB line has delivered. Keys and texts
    // are queued while the output queue holds less than this; a reply is
    // queued whole (a read's data as the line takes it, fileservice/rpc.h).
    static constexpr size_t BUFFER_SIZE = 16384;

    line_transport* transport = nullptr;
    int doubled = NO_DOUBLED_BYTE;  // the transport's, cached for the byte path
    line_settings settings;  // what a reopen asks for again
    std::array<unsigned char, BUFFER_SIZE> in;
    size_t in_next = 0;
    size_t in_end = 0;
    std::vector<unsigned char> out;
    unsigned long reads = 0;
    bool wait_when_gone = false;
    bool gone = false;
    bool taking_last_output = false;
    // Set after Ctrl-Q or a decided run: the last output has until then,
    // not the usual patience.
    bool leave_by_deadline = false;
    deadline leave = deadline::never();

    // What every wait on this line watches beside it.
    wait_watch watch;

    line_state() = default;
    // A line closed or not, the ways out no longer reach it.
    ~line_state() { stop_forget_all(this); }
    line_state(const line_state&) = delete;
    line_state& operator=(const line_state&) = delete;
};

// Opens the line the settings name, sets its modem lines and gives the
// reset pulse asked for; with -w a device that is not there yet is waited
// for ("waiting for DEVICE (Ctrl-Q ends)"). False after saying why not.
bool line_open(line_state& line, const line_settings& settings);
// Sends what is queued while the line takes it, puts the line's settings
// back and closes it.
void line_close(line_state& line);

// The speed in force, in Baud.
long line_speed(const line_state& line);
// Reads that brought bytes so far: the bytes of one read arrived together.
unsigned long line_reads(const line_state& line);

// Bytes received and not yet taken.
size_t line_buffered(const line_state& line);
// The received bytes that lie in the line's buffer, for the terminal to
// take as they are; line_take(count) takes the first count of them.
size_t line_in_hand(line_state& line, const unsigned char** bytes);
void line_take(line_state& line, size_t count);
// Takes into the buffer what the line holds now, without waiting.
void line_fill(line_state& line);
// The line's input is watched (events as wait_events_now made them) and
// bytes read before are still in the buffer: a wait does not sleep.
bool line_input_in_hand(const line_state& line, unsigned events);
// Writes what the line takes now of the queued output, without waiting.
void line_send(line_state& line);
// Queued output not yet written.
size_t line_pending(const line_state& line);
// Data bytes the queue takes now for keys and texts (one may go doubled on
// the wire); a reply is queued whatever this says.
size_t line_room(const line_state& line);
// Waits at most ms for the line to take some of the queued output; false
// when it took none (true at once when nothing is queued). Keys and
// signals are not looked at: this is for the ways out.
bool line_wait_room(line_state& line, int ms);

// One byte as it is: a frame mark, or a byte of a plain terminal or of a
// transfer (doubled only where the wire wants it); dropped while the line
// is gone.
void line_put_raw(line_state& line, int byte);
// A field's data bytes for the target, escaped for the link and the wire
// straight into the queue, however many; dropped while the line is gone.
void line_put_data(line_state& line, const unsigned char* bytes, size_t count);

// After Ctrl-Q: a command's pause is no longer cut short, so the keys typed
// before it leave as they would have.
void line_take_last_output(line_state& line);
// On the way out: what is queued, here and in the driver, gets at most ms
// to leave; the rest is dropped.
void line_leave_within(line_state& line, int ms);

// -w while the terminal runs: a line that goes away is let go instead of
// ending the program. Until line_reopen brings it back, line_gone is true.
void line_wait_when_gone(line_state& line, bool wait);
bool line_gone(const line_state& line);
// Opens the line again as at start (nothing is sent); true when it is back
// ("DEVICE back" said unless quiet).
bool line_reopen(line_state& line, bool quiet = false);
// Lent to another program (--lend): what is queued goes out as on the way
// out, the line's settings come back, and it is closed with its lock;
// line_gone is true until line_reopen.
void line_lend(line_state& line);

// Ends the program (Ctrl-Q, or a run decided by --expect, --fail or
// --timeout): what is queued for the line gets at most ms to leave (the
// rest is dropped), the console and the line get their settings back, and
// the streams the target left open are flushed; exits with status.
[[noreturn]] void line_end_program(line_state& line, int status, int ms);

// The settings the line was opened with, and the modem levels set since.
const line_settings& line_settings_now(const line_state& line);

// The command keys' operations on the open line. Each is false where the
// line cannot do it, or while there is none (-w: gone). What is queued for
// the line goes out first (within the quit patience).
//
// The break condition for ms, then the line takes output again.
bool line_send_break(line_state& line, int ms);
// DTR or RTS to a level, kept for the rest of the run (a reopen under -w
// sets it again).
bool line_set_modem_line(line_state& line, modem_line which, bool on);
// A new speed for the rest of the run (a reopen under -w sets it again).
bool line_set_speed(line_state& line, long baud);
// One change a network client asks of the line (RFC 2217). value: the
// Baud, the data or stop bits, a parity_kind or a flow_kind, 1 or 0 for
// DTR, RTS and the break (held until told otherwise), the PURGE_* bits
// for the driver's bytes dropped (what tolvane queued still goes).
struct line_action {
    enum class kind : unsigned char { speed, data_bits, parity, stop_bits, flow, dtr, rts, brk, purge };
    kind what;
    long value;
};
enum : long { PURGE_INPUT = 1, PURGE_OUTPUT = 2 };
// Makes it at once and kept for the rest of the run, as the command keys'
// do, but without waiting for what is queued first: it comes from inside
// the wait, which must not wait again. False where the line cannot, or
// the driver refused (the old settings stay).
bool line_act_now(line_state& line, const line_action& action);
// The reset pulse of --pulse, as at the first open; false without --pulse.
bool line_pulse(line_state& line);
// The modem lines: what the driver can tell, and for DTR and RTS beyond
// that the levels asked for since the open.
modem_state line_modem_state(line_state& line);

// While the line is waited for: the keys typed are dropped, the commands
// handed to watch.on_command (base/keys.h).
void line_keys_without_line(line_state& line);

// The open transport, for the platform's wait; null while none is open.
line_transport* line_transport_now(const line_state& line);

}  // namespace tolvane
