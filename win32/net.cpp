// Network lines (rfc2217://, tcp://) in tolvane-win: the URL is checked as
// in tolvane, but the COM-port loop does not move them yet, so the entry
// says so instead of opening a COM port named after the URL.
#include "base/host.h"

namespace tolvane {

const bool host_network_lines = false;

}  // namespace tolvane
