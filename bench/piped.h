// A terminal with its keys piped in and its output piped out, the target's
// line on a pty: tolvane as a script runs it, and tolvane-win under Wine,
// which has no console of its own here. The benchmark holds the pipes' other
// ends and the line's master.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "bench/procs.h"
#include "bench/terminals.h"

namespace bench {

struct Piped {
    pid_t pid = -1;
    PtyPair line;
    int keys = -1;    // the write end of its standard input
    int output = -1;  // the read end of its standard output
    std::string why_not;  // set when it could not be started
};

// Starts argv in dir (it opens line by the name in argv) and returns once
// bytes written to the line come out of its output. On failure pid is -1
// and why_not tells why.
Piped start_piped(const std::vector<std::string>& argv, const PtyPair& line, const std::string& dir);
// Ctrl-Q as the last key; false if it did not end cleanly. The line stays.
bool stop_piped(Piped& p);

// The target's text through to the output, checked byte for byte.
Flow pump_out(Piped& p, const std::string& text);
// Keys through to the line, complete and in order.
Flow type_in(Piped& p, const std::string& keys);
// Reads the output and the line until both have been quiet for quiet_ms.
void drain_piped(const Piped& p, int quiet_ms);

}  // namespace bench
