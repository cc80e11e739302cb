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

}  // namespace tolvane
