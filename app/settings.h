// The program's few process-wide settings, set from the command line.
#pragma once

namespace tolvane {

constexpr int DEVICE_NAME_SIZE = 80;

extern char device_name[DEVICE_NAME_SIZE];
extern long baud_rate;
extern bool quit_after_send;
extern bool rpc_trace;

}  // namespace tolvane
