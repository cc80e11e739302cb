#include "fileservice/dos_path.h"
#include "fileservice/names.h"

namespace tolvane {

void host_file_name(char* name) { dos_path_to_host(name); }

// Today's consoles read UTF-8: the U with diaeresis is two bytes here.
const char rpc_unknown_message[] =
    "nicht implementierter RPC - \xC3\x9C"
    "bertragungsfehler oder\nTerminalprogramm ist nicht 'up-to-date'\n";

}  // namespace tolvane
