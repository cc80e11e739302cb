// How names from the target become names on this host.
#pragma once

namespace tolvane {

// Rewrites a name, pattern or path from the target in place into the form
// this host's C library takes.
void host_file_name(char* name);

// Shown for a request code outside the table, in the console's own encoding.
extern const char rpc_unknown_message[];

}  // namespace tolvane
