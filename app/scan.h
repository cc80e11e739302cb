// The command line, scanned into the settings by the option table
// (app/option_table.h): the letters as they always were, upper and lower
// case alike, and the GNU long options beside them.
#pragma once

#include "base/settings.h"

namespace tolvane {

// A usage error: nothing was sent, and a script must not think it was.
constexpr int EXIT_USAGE = 2;
// What scan_options returns when the program goes on to open the line.
constexpr int GO_ON = -1;

// Scans argv into *s (from the defaults, the command words included): -1
// when the program goes on, else the exit status after printing what was
// asked (--help, --version, --list) or the usage (2).
int scan_options(int argc, char* argv[], settings* s);

// The usage after a usage error (standard error), and --help.
void print_usage(const char* argv0);
void print_help(const char* argv0);

}  // namespace tolvane
