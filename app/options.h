// The program's own option scanner. It lives in the program's namespace so
// that it never collides with the C library's getopt.
#pragma once

#include <string>

namespace tolvane {

extern int optind;    // argv index being scanned or to scan next
extern int opterr;    // nonzero: print error messages
extern char* optarg;  // argument of the option just returned
extern int optpos;    // next letter inside argv[optind]; 1 = start of element

// Returns the option letter, -1 when the options are over, '?' after an error.
int getopt(int argc, char* const argv[], const char* optstring);

// Prints "argv0: message -- letter" when opterr is set; returns '?'.
int getopt_error(const char* argv0, const char* message, int letter);

// GNU long options, "--name", "--name=VALUE" and "--name VALUE", scanned
// beside the letters: the entry asks for one whenever the scanner stands
// at the start of an element that begins with "--" and goes on.
enum class long_arg { none, required, optional };  // optional: only as --name=VALUE

struct long_option {
    const char* name;
    long_arg arg;
    int id;  // what get_long_option returns for it
};

// True when argv[optind] is a long option (not the bare "--").
bool at_long_option(int argc, char* const argv[]);
// Scans the long option at argv[optind]: returns its id with optarg set
// (null when it has none), or '?' after printing "argv0: message --
// --name" when opterr is set.
// An illegal one near enough to another's name says "(did you mean
// --name?)" after it.
int get_long_option(int argc, char* const argv[], const long_option* table, int count);
// The name a mistyped long option was surely meant as: one it begins, or
// one a few letters from it; null when none is near.
const char* closest_long_option(const std::string& name, const long_option* table, int count);

}  // namespace tolvane
