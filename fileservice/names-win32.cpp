#include "fileservice/names.h"

namespace tolvane {

// Windows takes the target's MS-DOS names as they are.
void host_file_name(char*) {}

// The console shows code page 437, where 0x9A is the U with diaeresis.
const char rpc_unknown_message[] =
    "nicht implementierter RPC - \x9A"
    "bertragungsfehler oder\nTerminalprogramm ist nicht 'up-to-date'\n";

}  // namespace tolvane
