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
line_level dtr_level = line_level::keep;
line_level rts_level = line_level::keep;
modem_line pulse_line = modem_line::none;
int pulse_ms = 100;
double time_limit_seconds = 0;

}  // namespace tolvane
