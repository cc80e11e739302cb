// Network lines in tolvane-win (rfc2217:// and tcp://, net/url.h): a
// Winsock connection in the port's record, moved by the same overlapped
// reads and writes and the same wait as a COM port. This file connects,
// sets rfc2217 lines up and keeps telnet out of the data.
#pragma once

#include <cstddef>

#include "win32/com_port.h"

namespace tolvane {

bool net_is_url(const char* name);

// Connects and, on rfc2217 lines, sets the server's line to baud, 8N1, no
// flow control, and the modem lines asked for. Null after printing "open:
// URL: reason" (quiet, for a reconnect: only a server's refusal, once).
com_port* net_line_open(const char* url, long baud, bool quiet);

// Bytes a read brought, telnet taken out in place; the answers due to the
// server are queued for the line. Returns how many data bytes are left.
size_t net_line_received(com_port* port, unsigned char* bytes, size_t count);

// A data byte as the wire carries it (0xFF doubled on rfc2217 lines);
// returns 1 or 2.
size_t net_line_encode(int byte, unsigned char* wire);

}  // namespace tolvane
