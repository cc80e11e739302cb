// The simulated board's serial port: the master side of a pseudo-terminal
// pair. tolvane opens the slave side as its line.
//
// A pty is not a cable: bytes written while nobody has the slave open wait
// there for the next program that opens it, and reading the master fails
// with EIO while the slave is closed. So the port watches whether a host is
// there. While none is, output is dropped, as on a UART with nothing
// plugged in, and whatever the last host left unread is flushed, so that
// each tolvane starts on a quiet line. Between hosts the port keeps going:
// one `tolvane -q` after another reaches the same board.
#pragma once

#include <string>

namespace sim {

// Opens the pair and makes the slave raw. Returns the slave's path, or ""
// after printing why not.
std::string line_open();

// Signals end the simulator through this descriptor (a self-pipe).
void line_set_stop_fd(int fd);

// How long a request waits for the host's first answer.
void line_set_reply_timeout(int milliseconds);

enum class LineEvent {
    input,     // a byte from the host is ready for link_get()
    attached,  // a host has opened the line
    detached,  // the host has closed it
    stop,      // a signal asked the simulator to end
};

// Waits for the next event outside a file-service request. Also clears a
// failure left by the last request.
LineEvent line_wait();

// Why the file-service request in progress could not go on. Once it has
// failed, every read yields ETX at once and every write is dropped, so the
// client library runs to its end quickly; the caller looks here afterwards.
enum class LineFailure {
    none,
    no_answer,  // nobody answered the request in time
    host_gone,  // the host closed the line
    stopped,    // a signal arrived
};

LineFailure line_failure();
void line_clear_failure();

}  // namespace sim
