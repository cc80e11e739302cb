// The process's one line and the program's one wait.
//
// Every wait of tolvane-win happens in line_wait: on the port's operations
// in flight, the keyboard and the --timeout together, in one
// WaitForMultipleObjects. While the terminal runs the wait also reads keys
// into the key queue and sees Ctrl-Q (base/keys.h); it never acts on them.
#pragma once

#include <cstddef>

#include "win32/com_port.h"

namespace tolvane {

extern com_port* line_port;  // null while no line is open

// Opens the port named by device (-w: waits for it while it is not there).
bool line_open(const char* device, long baud);
// Sends what is queued, as long as the line takes it, and closes the port.
void line_close();

// Sleeps until the port has bytes or finished a write, a key came, or ms
// passed (-1: no end; never past the --timeout). Returns at once when bytes
// wait already.
void line_wait(int ms);
// While the terminal runs: its waits read keys.
void line_watch_keyboard(bool watch);

// Bytes received and not taken yet.
size_t line_buffered();

// -w while the terminal runs: a port that goes away is let go (it says so)
// instead of ending the program. True while it is gone.
void line_wait_when_gone(bool wait);
bool line_gone();
// Opens the port again as at start, quietly (nothing is sent); true when
// it is back.
bool line_reopen();

// True while a request is cut off: Ctrl-Q came or the --timeout passed
// (until line_take_last_output), or the line went away.
bool line_request_cut();
void line_take_last_output();
// Waits at most ms for the line to take some of the queued output.
bool line_wait_room(int ms);
// On a way out: the queued output gets at most ms to leave, the rest is
// dropped.
void line_leave_within(int ms);

// Ends the program with status: the console and the line get their
// settings back. The line's output is not waited for.
[[noreturn]] void line_end_program(int status);

}  // namespace tolvane
