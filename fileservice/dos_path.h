// MS-DOS path names on a POSIX host.
#pragma once

namespace tolvane {

// "C:\SRC\MAIN.C" becomes "/SRC/MAIN.C" and "C:*.*" becomes "*.*"; a name
// without a drive prefix is left as it is, backslashes included.
void dos_path_to_host(char* name);

// Where the name part of path begins: after the last '/', '\' or ':'. A name
// part of "." or ".." counts as empty (the pointer is to the final NUL).
char* path_name_part(char* path);

}  // namespace tolvane
