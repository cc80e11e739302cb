// The file service as the target sees it: whole files read and written
// through the client library in requests of a given size, and the
// turnaround of the smallest request.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "bench/terminals.h"

namespace bench {

// Reads host file name (whose bytes are expected) in requests of request
// bytes; the CPU is tolvane's (pid).
Flow read_through(pid_t pid, const std::string& name, const std::string& expected, long request);
// Writes data to host file name in requests of request bytes and closes it;
// host_path is where the bytes must then be ("": a host that checks them
// itself, whose close answer says whether they landed).
Flow write_through(pid_t pid, const std::string& name, const std::string& host_path, const std::string& data,
                   long request);
// Microseconds each of count get-character requests took on host file
// name, whose first count bytes are expected; empty on failure.
std::vector<double> getc_turnarounds(const std::string& name, const std::string& expected, int count);

}  // namespace bench
