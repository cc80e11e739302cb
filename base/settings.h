// The program's few process-wide settings, set from the command line.
#pragma once

#include <string>

namespace tolvane {

extern std::string device_name;  // any path the system takes, never cut
extern long baud_rate;
extern bool quit_after_send;
extern bool rpc_trace;
// -d: the directory the file service serves as the target's whole file
// system; null serves the host's. Code may set it too: every request reads it.
extern const char* service_root;
// -p: requests that would change a file are refused.
extern bool service_read_only;
// -w: a line that goes away is waited for, not the end of the program.
extern bool wait_for_line;
// -l: where a copy of the console goes; null for none.
extern const char* session_log_name;
// --timeout: how long the run may take, in seconds; 0 for no limit.
extern double time_limit_seconds;

// --dtr, --rts: a modem line held at one level for the session; keep
// leaves it as the platform has it.
enum class line_level { keep, on, off };
extern line_level dtr_level;
extern line_level rts_level;
// --pulse: a modem line asserted for pulse_ms right after the open, to
// reset the board; then released (or held on, by --dtr on or --rts on).
enum class modem_line { none, dtr, rts };
extern modem_line pulse_line;
extern int pulse_ms;

}  // namespace tolvane
