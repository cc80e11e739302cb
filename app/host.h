// What the entry needs from the platform it runs on. Each program links
// exactly one implementation: posix/host.cpp or win32/host.cpp, which also
// set device_name to the platform's default line.
#pragma once

namespace tolvane {

extern const char usage_example[];  // printf format taking argv[0]

// Opens and configures the line; prints its own message and returns false
// when it cannot.
bool host_line_open(const char* device, long baud);
// Sends what is queued for the line, puts its settings back and closes it.
void host_line_close();

// Runs the interactive terminal until the user leaves it.
void term_loop();

// True once the line went away in the middle of a request (-w): what the
// request still read is not the target's, and nothing is done with it.
bool host_line_gone();

// Ends the program at once, as leaving the terminal does: the queued output
// sent, the console and the line restored, status 0.
[[noreturn]] void host_quit();

}  // namespace tolvane
