// A made-up machine under a directory, as --list sees /dev and /sys there
// (TOLVANE_TEST_ROOT): an FTDI adapter with its /dev/serial/by-id name, a
// CDC-ACM board, 16550 ports of several kinds, and the entries --list
// must leave out.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fake_sysfs {

// Builds the machine under root (an empty directory).
void make_machine(const std::string& root);

// What --list finds there, in order: the name and what it says about it.
std::vector<std::pair<std::string, std::string>> machine_lines();

}  // namespace fake_sysfs
