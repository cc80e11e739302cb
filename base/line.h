// The process's one line, whatever carries it (base/line_transport.h).
// Bytes from it are read in blocks into a buffer, which the terminal takes
// from as it is (line_in_hand); bytes for it are queued (link_put_raw,
// line_put_data) without waiting and written in blocks whenever the line
// takes them, in the terminal's wait and on every way out.
//
// The line's states live here once: gone (-w: it went away and is waited
// for; what is queued for it is dropped), back, and the last output on the
// way out.
#pragma once

#include <cstddef>
#include <string>

#include "base/line_transport.h"
#include "base/settings.h"

namespace tolvane {

// Opens the line the settings name, sets its modem lines and gives the
// reset pulse asked for; with -w a device that is not there yet is waited
// for ("waiting for DEVICE (Ctrl-Q ends)"). False after saying why not.
bool line_open(const line_settings& settings);
// Sends what is queued while the line takes it, puts the line's settings
// back and closes it.
void line_close();

// The speed in force, in Baud.
long line_speed();
// Reads that brought bytes so far: the bytes of one read arrived together.
unsigned long line_reads();

// Bytes received and not yet taken.
size_t line_buffered();
// The received bytes that lie in the line's buffer, for the terminal to
// take as they are; line_take(count) takes the first count of them.
size_t line_in_hand(const unsigned char** bytes);
void line_take(size_t count);
// Takes into the buffer what the line holds now, without waiting.
void line_fill();
// The line's input is watched (events as wait_events_now made them) and
// bytes read before are still in the buffer: a wait does not sleep.
bool line_input_in_hand(unsigned events);
// Writes what the line takes now of the queued output, without waiting.
void line_send();
// Queued output not yet written.
size_t line_pending();
// Data bytes the queue takes now for keys and texts (one may go doubled on
// the wire); a reply is queued whatever this says.
size_t line_room();
// Waits at most ms for the line to take some of the queued output; false
// when it took none (true at once when nothing is queued). Keys and
// signals are not looked at: this is for the ways out.
bool line_wait_room(int ms);

// A field's data bytes for the target, escaped for the link and the wire
// straight into the queue, however many; dropped while the line is gone.
void line_put_data(const unsigned char* bytes, size_t count);

// After Ctrl-Q: a command's pause is no longer cut short, so the keys typed
// before it leave as they would have.
void line_take_last_output();
// On the way out: what is queued, here and in the driver, gets at most ms
// to leave; the rest is dropped.
void line_leave_within(int ms);

// -w while the terminal runs: a line that goes away is let go instead of
// ending the program. Until line_reopen brings it back, line_gone is true.
void line_wait_when_gone(bool wait);
bool line_gone();
// Opens the line again as at start (nothing is sent); true when it is back
// ("DEVICE back" said unless quiet).
bool line_reopen(bool quiet = false);
// Lent to another program (--lend): what is queued goes out as on the way
// out, the line's settings come back, and it is closed with its lock;
// line_gone is true until line_reopen.
void line_lend();

// Ends the program (Ctrl-Q, or a run decided by --expect, --fail or
// --timeout): what is queued for the line gets at most ms to leave (the
// rest is dropped), the console and the line get their settings back, and
// the streams the target left open are flushed; exits with status.
[[noreturn]] void line_end_program(int status, int ms);

// The settings the line was opened with, and the modem levels set since.
const line_settings& line_settings_now();

// The command keys' operations on the open line. Each is false where the
// line cannot do it, or while there is none (-w: gone). What is queued for
// the line goes out first (within the quit patience).
//
// The break condition for ms, then the line takes output again.
bool line_send_break(int ms);
// DTR or RTS to a level, kept for the rest of the run (a reopen under -w
// sets it again).
bool line_set_modem_line(modem_line which, bool on);
// A new speed for the rest of the run (a reopen under -w sets it again).
bool line_set_speed(long baud);
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
bool line_act_now(const line_action& action);
// The reset pulse of --pulse, as at the first open; false without --pulse.
bool line_pulse();
// The modem lines: what the driver can tell, and for DTR and RTS beyond
// that the levels asked for since the open.
modem_state line_modem_state();

// The open transport, for the platform's wait; null while none is open.
line_transport* line_transport_now();

}  // namespace tolvane
