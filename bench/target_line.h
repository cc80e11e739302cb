// The benchmark as the target: the client library's two raw operations
// over a pty master, buffered so that the target's side is never what a
// figure measures. Reads take what has arrived in one go; writes gather
// until the next read (or a full buffer) and then leave in one go.
#pragma once

namespace bench {

// Binds the library to fd (non-blocking). A read that waits longer than
// timeout_ms yields ETX and marks the line failed, so the run ends.
void target_attach(int fd, int timeout_ms);
bool target_failed();
// Sends what is gathered; a read does this itself first.
void target_flush();

}  // namespace bench
