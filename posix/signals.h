// SIGTERM, SIGHUP and SIGINT end tolvane with the console and the line put
// back (base/stop.h), and by that signal, so the shell sees 128 + signal.
// The handlers only write a self-pipe; the wait watches the pipe and calls
// stop_if_signalled().
#pragma once

namespace tolvane {

void stop_watch_signals();
int stop_signal_fd();  // read end of the self-pipe, or -1

// If a signal arrived: ends the console's text, restores and ends the
// program by that signal.
void stop_if_signalled();

}  // namespace tolvane
