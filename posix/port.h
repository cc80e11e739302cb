// The line of the POSIX build: a tty device in raw 8N1 mode.
//
// Bytes from the line are read in blocks into a buffer that link_get_raw
// takes from; bytes for the line are queued and written in blocks. The
// queue goes out whenever the line takes it, in every wait, and on every
// way out.
//
// Every wait for the line also watches the keyboard while the terminal
// runs: keys are read into the key queue, Ctrl-Q sets the quit flag, and
// the wait returns so that its caller can give up (base/keys.h). No wait
// sleeps past the --timeout (base/time_limit.h).
#pragma once

#include <cstddef>

namespace tolvane {

extern int line_fd;  // -1 while no line is open

// Opens the line at any speed the driver takes, sets the modem lines and
// gives the reset pulse asked for. Returns 1 on success, 0 after printing
// why not.
int port_open(const char* device, long baud);

// The same, for a caller that may wait for the device: tells a device
// that could not be opened (*open_error the reason; printed only when
// asked to) from one that was refused (said why).
enum class open_outcome { opened, not_opened, refused };
enum class report_open_failure { always, never };
open_outcome port_open_if_there(const char* device, long baud, int* open_error, report_open_failure when);
// -w at start: a device that is not there yet is waited for, Ctrl-Q and
// signals ending the wait. Returns as port_open.
int port_open_waiting(const char* device, long baud);

// The speed in force once open, in Baud: the driver's, which may be a
// little off the one asked for.
long port_speed();
// Sends the queued output, puts the saved settings back (after the output
// has left at the line's speed) and closes the device.
void port_close();

// Bytes read from the line and not yet taken.
int port_buffered();
// Takes into the buffer what the line holds now, without waiting.
void port_fill();
// Writes what the line takes now of the queued output, without waiting.
void port_send();
// Queued output not yet written.
size_t port_pending();
// Room in the output queue.
size_t port_room();
// Writes the queued output, waiting as long as the line needs (or until
// Ctrl-Q).
void port_flush();
// Waits at most ms for the line to take some of the queued output; false
// when it took none (true at once when nothing is queued).
bool port_wait_room(int ms);

// While the terminal runs: its waits read keys (see above).
void port_watch_keyboard(bool watch);

// True while a request is cut off: Ctrl-Q came or the --timeout passed
// (until port_take_last_output), or the line went away. Reads then answer
// ETX at once, writes are dropped.
bool port_request_cut();
// After Ctrl-Q, once the request returned: the line takes output again,
// for the keys typed before it.
void port_take_last_output();
// On the way out after Ctrl-Q: what is queued, here and in the driver,
// gets at most ms to leave; the rest is dropped.
void port_leave_within(int ms);

// -w while the terminal runs: a line that goes away is let go instead of
// ending the program. Until port_reopen brings it back, port_gone is true,
// reads answer ETX at once and writes are dropped.
void port_wait_when_gone(bool wait);
bool port_gone();
// Opens the line again as at start (nothing is sent); true when it is back.
bool port_reopen();

}  // namespace tolvane
