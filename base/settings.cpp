#include "base/settings.h"

namespace tolvane {

// device_name and its default live in the platform's host file.
long baud_rate = 115200;
bool quit_after_send = false;
bool rpc_trace = false;
const char* service_root = nullptr;
bool service_read_only = false;
bool wait_for_line = false;
const char* session_log_name = nullptr;
double time_limit_seconds = 0;

}  // namespace tolvane
