// The line of the POSIX build: a tty device in raw 8N1 mode.
#pragma once

namespace tolvane {

extern int line_fd;  // -1 while no line is open

// Maps a speed in Baud to its speed code; false for unsupported speeds.
bool port_speed_code(long baud, unsigned* code);

// Returns 1 on success, 0 after printing why not.
int port_open(const char* device, long baud);
// Puts the saved settings back (after the queued output has gone out) and
// closes the device.
void port_close();

}  // namespace tolvane
