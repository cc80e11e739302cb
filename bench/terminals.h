// The programs that pass the target's bytes to a console: tolvane, its
// peer picocom, and cat as the limit of the setup. Each runs with its line
// on one pty pair and its console on another; the benchmark holds both
// masters, writing the target's bytes and reading the console.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "bench/procs.h"

namespace bench {

struct Terminal {
    pid_t pid = -1;
    PtyPair line;
    PtyPair console;
    std::string why_not;  // set when it could not be started
};

// Each starts the program and returns once bytes written to the line show
// on the console. On failure pid is -1 and why_not tells why.
Terminal start_tolvane(const std::string& path, const std::string& dir);
Terminal start_tolvane(const std::string& path, const std::string& dir, const std::vector<std::string>& options);
Terminal start_picocom(const std::string& path, const std::string& dir);
Terminal start_cat(const std::string& path, const std::string& dir);
// tolvane with -c line_name, which reaches the pty line (a URL whose server
// serves it), and the options before it; the Terminal takes the pty over.
Terminal start_tolvane_via(const std::string& path, const std::string& dir, const std::string& line_name,
                           const PtyPair& line, const std::vector<std::string>& options = {});
// Ends the program as its user would; false if it did not end cleanly.
bool stop_tolvane(Terminal& t);
bool stop_picocom(Terminal& t);
bool stop_cat(Terminal& t);

struct Flow {
    bool ok = false;
    double seconds = 0;      // wall time of the whole transfer
    double cpu_seconds = 0;  // the measured program's CPU in that time
};

// Writes data to the line and reads it back from the console, checking
// every byte. data must hold none of the bytes tolvane treats specially.
Flow pump(Terminal& t, const std::string& data);
// The same between any two ends: data written into one must come out of
// the other unchanged; the CPU is pid's.
Flow pump_between(pid_t pid, int into, int out_of, const std::string& data);
// The same for tolvane with --map INLCRNL -t: each line of data (which ends
// in LF) must show as a stamp "[HH:MM:SS.mmm] ", the line and CR LF.
Flow pump_stamped(Terminal& t, const std::string& data);

// Reads the console and the line until both have been quiet for quiet_ms.
void drain(const Terminal& t, int quiet_ms);

}  // namespace bench
