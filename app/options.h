// The program's own option scanner. It lives in the program's namespace so
// that it never collides with the C library's getopt.
#pragma once

namespace tolvane {

extern int optind;    // argv index being scanned or to scan next
extern int opterr;    // nonzero: print error messages
extern char* optarg;  // argument of the option just returned
extern int optpos;    // next letter inside argv[optind]; 1 = start of element

// Returns the option letter, -1 when the options are over, '?' after an error.
int getopt(int argc, char* const argv[], const char* optstring);

// Prints "argv0: message -- letter" when opterr is set; returns '?'.
int getopt_error(const char* argv0, const char* message, int letter);

}  // namespace tolvane
