// What the POSIX directory search needs beneath the service root, and the
// switch the tests use to run the component walk where openat2 exists.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

namespace tolvane {

// opendir(path) and stat(path), confined as the other requests are.
DIR* confine_opendir(const char* path);
int confine_stat(const char* path, struct stat* st);

// true: resolve names by walking them one component at a time, as on a
// kernel without openat2.
extern bool confine_walk_only;

}  // namespace tolvane
