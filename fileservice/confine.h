// The file service's way to the host's files. Without a service root
// (-d, confine_open_root) each call is the C library's own. With one, every name the target sends is taken beneath that directory, as if it
// were the root of the file system: absolute names start there, ".." stops
// there, and symbolic links are resolved there. A name that cannot be kept
// inside fails as the C function fails, with its result and errno.
//
// confine-posix.cpp resolves names in the kernel (openat2) or, where that is
// missing, one component at a time; confine-win32.cpp joins names to the
// root and checks where the opened file really is.
#pragma once

#include <cstdio>

#include "fileservice/open_mode.h"

namespace tolvane {

// Serves the files beneath root from now on (null: the host's own) and
// opens it, for the requests that follow. Prints "open: DIR: reason" and
// returns false when it is no directory; requests then fail until a root
// that opens is set.
bool confine_open_root(const char* root);

// fopen(name, mode); mode is the checked form of c_mode. It never blocks:
// a name that is no file or directory (a FIFO, a device) is opened so that
// a read or write that would wait fails at once instead.
FILE* confine_fopen(const char* name, const char* c_mode, const open_mode& mode);
// remove(name): a file, or an empty directory where the C library's remove
// takes one.
int confine_remove(const char* name);
int confine_rename(const char* old_name, const char* new_name);
// mkdir(name) and rmdir(name): 0, or -1 with errno. The root itself is
// there already and is never removed.
int confine_mkdir(const char* name);
int confine_rmdir(const char* name);

}  // namespace tolvane
