// The line over the network: rfc2217://HOST:PORT and tcp://HOST:PORT
// (net/url.h). The port (posix/port.h) moves bytes on the connection as on
// a tty; this file connects, and on rfc2217 lines sets the server's serial
// line and keeps telnet out of the data.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace tolvane {

// The port's wait: at most ms (-1: no limit) for events on fd, reading keys
// and watching signals meanwhile; false on time-out or Ctrl-Q.
using net_wait_fn = bool (*)(int fd, short events, int ms);

bool net_is_url(const char* name);

// Connects and, on rfc2217 lines, sets the server's line to baud, 8N1, no
// flow control. Returns the socket (non-blocking, TCP_NODELAY), or -1 after
// printing "open: URL: reason". Quiet (a reconnect) says nothing about a
// server that is not there, but still says once when it refuses a setting.
int net_open(const char* url, long baud, bool quiet, net_wait_fn wait);

// Like read(2), with telnet taken out of rfc2217 lines: 0 when the server
// closed the connection, -1 with EAGAIN when only telnet commands came.
ssize_t net_read(int fd, unsigned char* buffer, size_t size);
// Data that came while the line was being set up and was not read yet.
size_t net_pending_input();
// Telnet answers due to the server, moved into dest (at most room).
size_t net_take_output(unsigned char* dest, size_t room);
// A data byte as the wire carries it (0xFF doubled on rfc2217 lines);
// returns 1 or 2.
size_t net_encode(int byte, unsigned char* wire);
// Like write(2), without SIGPIPE when the server has gone.
ssize_t net_write(int fd, const unsigned char* bytes, size_t count);

// Ends the connection so that the server gets everything sent: our end
// closed first, then at most ms for the server to close its end.
void net_close(int fd, int ms);

}  // namespace tolvane
