// The process's line (base/line.h) as an RFC 2217 server's port: what a
// network client asks of it done on the line at once.
#pragma once

#include "net/rfc2217_server.h"

namespace tolvane {

struct line_state;
Rfc2217Port rfc2217_line_port(line_state& line);

}  // namespace tolvane
