// The program's few process-wide settings, set from the command line.
#pragma once

#include <string>

namespace tolvane {

extern std::string device_name;  // any path the system takes, never cut
extern long baud_rate;
extern bool quit_after_send;
extern bool rpc_trace;

}  // namespace tolvane
