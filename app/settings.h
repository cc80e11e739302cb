// The program's few process-wide settings, set from the command line.
#pragma once

namespace tolvane {

constexpr int DEVICE_NAME_SIZE = 80;

extern char device_name[DEVICE_NAME_SIZE];
extern long baud_rate;
extern bool quit_after_send;
extern bool rpc_trace;
// -d: the directory the file service serves as the target's whole file
// system; null serves the host's. Code may set it too: every request reads it.
extern const char* service_root;
// -p: requests that would change a file are refused.
extern bool service_read_only;

}  // namespace tolvane
