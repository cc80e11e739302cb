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

// Ends the program at once, as leaving the terminal does: the queued output
// sent, the console and the line restored, status 0.
[[noreturn]] void host_quit();

}  // namespace tolvane
