// The floor of a file-service exchange on this machine: a host that serves
// one file from memory (open, read, write, get character, close) on a pty,
// with no file system, terminal or trace behind it. What is written is held
// against that file's bytes: the close answers -1 when it differs. It pays the protocol's round
// trips and nothing else, so tolvane's figures beside it show what tolvane
// itself adds, and what no host could take away.
#pragma once

#include <sys/types.h>

#include <string>

#include "bench/procs.h"

namespace bench {

// Starts it on the slave of pair (made raw), serving content.
pid_t start_bare_host(const PtyPair& pair, const std::string& content);
void stop_bare_host(pid_t pid);

}  // namespace bench
