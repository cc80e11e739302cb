// The connection of a network line in tolvane-win (Winsock): the host
// resolved, each address tried with a time-out, TCP_NODELAY on; and the
// wait of the connect and the line's set-up, which sees Ctrl-Q.
#pragma once

#include <winsock2.h>

#include <string>

#include "base/deadline.h"
#include "net/url.h"

namespace tolvane {

// A connected, non-blocking socket, or INVALID_SOCKET with why set to the
// reason ("Connection refused", ...). Keys typed meanwhile go into keys
// (none: the console is not read).
struct key_queue;
SOCKET win_net_connect(const NetUrl& url, int timeout_ms, std::string* why, key_queue* keys);
void win_net_close(SOCKET socket);
// A connected socket as a line that carries the bytes as they are (unix:);
// null when its operations cannot be made (the socket is closed then).
class line_transport;
line_transport* win_socket_line(SOCKET s, long baud);
// Winsock started once for the run; false when it cannot be.
bool win_net_started();

// Waits until until for one of network_events (FD_READ, FD_WRITE,
// FD_CONNECT, FD_CLOSE) on the socket; keys are read into keys meanwhile
// where the console is taken. False on time-out, at the --timeout, or on
// Ctrl-Q.
bool win_net_wait(SOCKET socket, long network_events, deadline until, key_queue* keys);

}  // namespace tolvane
