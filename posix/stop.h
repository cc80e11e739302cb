// Every way out of tolvane puts the console and the line back as they were.
//
// Parts that change a device's settings register a restore function. The
// signal handlers only write a self-pipe; whoever waits in poll watches
// the pipe and calls stop_if_signalled().
#pragma once

namespace tolvane {

void stop_watch_signals();           // SIGTERM, SIGHUP, SIGINT
int stop_signal_fd();                // read end of the self-pipe, or -1
void stop_on_exit(void (*restore)());
void stop_forget(void (*restore)());

// Runs the restore functions (newest first), each once.
void stop_restore();

// Ends the console's text (console_end), restores and exits with status.
[[noreturn]] void stop_now(int status);

// If a signal arrived: ends the console's text, restores and ends the
// program by that signal, so the shell sees 128 + signal.
void stop_if_signalled();

}  // namespace tolvane
