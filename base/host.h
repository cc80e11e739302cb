// What the shared code needs from the platform it runs on. Each program
// links exactly one implementation: posix/host.cpp or win32/host.cpp, which
// also set device_name to the platform's default line.
#pragma once

#include <cstddef>

namespace tolvane {

extern const char usage_example[];  // printf format taking argv[0]

// Opens and configures the line; prints its own message and returns false
// when it cannot.
bool host_line_open(const char* device, long baud);
// Sends what is queued for the line, puts its settings back and closes it.
void host_line_close();

// Bytes the line takes now without waiting.
size_t host_line_room();
// Waits at most ms for the line to take more; false when it took none.
bool host_line_wait_room(int ms);

// True once the request in progress was cut off: the line went away (-w)
// or Ctrl-Q came. Until the request returns, its reads answer ETX at once
// and its replies are dropped; what it still read is not the target's, and
// nothing is done with it.
bool host_request_cut();

// After Ctrl-Q, once the request in progress returned: the line takes
// output again, for the keys typed before Ctrl-Q.
void host_line_take_last_output();

// Ends the program (Ctrl-Q, or a run decided by --expect, --fail or
// --timeout): what is queued for the line gets at most ms to leave (the
// rest is dropped), the console and the line get their settings back, and
// the streams the target left open are flushed; exits with status.
[[noreturn]] void host_end(int status, int ms);

}  // namespace tolvane
