// What the Windows directory search needs beneath the service root.
#pragma once

#include <io.h>

#include <cstdint>

namespace tolvane {

// _findfirst and _findnext, the pattern's directory taken beneath the root as
// names are. An entry that leads out of the root is listed with its name
// only: no attributes, times or size.
intptr_t confine_findfirst(const char* pattern, _finddata_t* entry);
int confine_findnext(intptr_t handle, _finddata_t* entry);

}  // namespace tolvane
