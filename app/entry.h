#pragma once

namespace tolvane {

// Scans the options into the settings: -1 when the program goes on, else
// the exit status after printing what was asked (--help, --version) or the
// usage (2).
int scan_options(int argc, char* argv[]);

void send_reset();
void send_command_words(int first, int argc, char* const argv[]);

// The whole program: scans the options, opens the line, sends the reset and
// the command words, runs the terminal unless -q, closes the line. Returns
// the exit status.
int entry(int argc, char* argv[]);

}  // namespace tolvane
