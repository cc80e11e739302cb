// The process's one line, open from start-up to the end.
#pragma once

#include "win32/com_port.h"

namespace tolvane {

extern com_port* line_port;

}  // namespace tolvane
