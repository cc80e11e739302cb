// The far ends of the share and of --events, one file per platform
// (posix/endpoint.cpp, win32/endpoint.cpp): listening sockets, the
// connections they accept, and a file written to. Nothing here waits:
// each end hands its handles to the wait (base/wait.h) and is read and
// written when it is ready.
#pragma once

#include <cstddef>
#include <string>

#include "net/url.h"

namespace tolvane {

struct wait_set;
struct listener;
struct endpoint;

// What a read answers when the other end has gone.
constexpr long ENDPOINT_GONE = -1;

// Listens at the address; null with why. A unix: socket file is made with
// the user's permissions only (0600); one left behind by a run that no
// longer listens is replaced, one in use is refused.
listener* listener_open(const share_address& address, std::string* why);
// A connection waiting to be taken, or null.
endpoint* listener_accept(listener* l);
// Stops listening; a unix: socket file is removed.
void listener_close(listener* l);
void listener_add_waits(listener* l, wait_set* set);
// After the wait: whether it found the listener or the end ready (where
// the platform cannot tell: true, and the caller just tries).
bool listener_ready(const listener* l, const wait_set& set);
bool endpoint_ready(const endpoint* e, const wait_set& set);
// The same for input (or its end) alone: a client is read only then.
bool endpoint_readable(const endpoint* e, const wait_set& set);

// --events PATH: a file (appended to) or a FIFO, written without waiting;
// null with why.
endpoint* endpoint_open_file(const std::string& path, std::string* why);

// The client's end (--lend): connected to a share, waiting at most ms;
// null with why.
endpoint* endpoint_connect(const share_address& address, int ms, std::string* why);
// Sleeps until the end has bytes to read, or ms passed; false then.
bool endpoint_wait_input(endpoint* e, int ms);

// What came, without waiting: the count, 0 when nothing has, or
// ENDPOINT_GONE.
long endpoint_read(endpoint* e, unsigned char* buffer, size_t size);
// Takes what it can without waiting: the count (0: none now), or
// ENDPOINT_GONE.
long endpoint_write(endpoint* e, const unsigned char* bytes, size_t count);
void endpoint_close(endpoint* e);
// The wait watches it for input, and for room when writing waits.
void endpoint_add_waits(endpoint* e, wait_set* set, bool input, bool output);

}  // namespace tolvane
