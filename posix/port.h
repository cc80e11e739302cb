// The line of the POSIX build: a tty device in raw 8N1 mode.
//
// Bytes from the line are read in blocks into a buffer that link_get_raw
// takes from; bytes for the line are queued and written in blocks. The
// queue goes out before every wait for input, when it is full, and on every
// way out.
#pragma once

namespace tolvane {

extern int line_fd;  // -1 while no line is open

// Maps a speed in Baud to its speed code; false for unsupported speeds.
bool port_speed_code(long baud, unsigned* code);

// Returns 1 on success, 0 after printing why not.
int port_open(const char* device, long baud);
// Sends the queued output, puts the saved settings back (after the output
// has left at the line's speed) and closes the device.
void port_close();

// Bytes read from the line and not yet taken.
int port_buffered();
// Takes into the buffer what the line holds now, without waiting.
void port_fill();
// Writes the queued output, waiting as long as the line needs.
void port_flush();

// -w while the terminal runs: a line that goes away is let go instead of
// ending the program. Until port_reopen brings it back, port_gone is true,
// reads answer ETX at once and writes are dropped.
void port_wait_when_gone(bool wait);
bool port_gone();
// Opens the line again as at start (nothing is sent); true when it is back.
bool port_reopen();

// While the terminal runs, every wait for the line also watches the
// keyboard fd and calls on_key_ready when a key can be read, so that keys,
// and Ctrl-Q above all, are seen in the middle of a request. fd -1 stops it.
void port_watch_keyboard(int fd, void (*on_key_ready)());

}  // namespace tolvane
