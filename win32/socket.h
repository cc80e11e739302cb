// The connection of a network line in tolvane-win (Winsock): the host
// resolved, each address tried with a time-out, TCP_NODELAY on. The COM
// port's loop does not move network lines yet; this is its connect.
#pragma once

#include <winsock2.h>

#include <string>

#include "net/url.h"

namespace tolvane {

// A connected, non-blocking socket, or INVALID_SOCKET with why set to the
// reason ("Connection refused", ...).
SOCKET win_net_connect(const NetUrl& url, int timeout_ms, std::string* why);
void win_net_close(SOCKET socket);

}  // namespace tolvane
