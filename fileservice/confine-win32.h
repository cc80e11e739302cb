// What the Windows file service needs beneath the service root: the
// device names it never opens as files, and the directory search.
#pragma once

#include <io.h>

#include <cstdint>

namespace tolvane {

// A name Windows opens as a device whatever directory it is in: CON,
// CONIN$, CONOUT$, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any
// extension; or a path in the device namespace (\\.\ or \\?\).
bool names_dos_device(const char* name);

// _wfindfirst and _wfindnext, the pattern read as names are (UTF-8 where it
// is valid UTF-8) and its directory taken beneath the root as names are. An entry that leads out of the root is listed with its name
// only: no attributes, times or size.
// What GetFileAttributesEx says of a name (its attributes, size and
// FILETIME of the last write), taken beneath the root as names are; 0, or
// -1 with errno. Never a device's name.
struct confine_entry {
    unsigned long attributes;
    uint64_t size;
    uint64_t write_time;
};
int confine_attributes(const char* name, confine_entry* entry);

intptr_t confine_findfirst(const char* pattern, _wfinddata_t* entry);
int confine_findnext(intptr_t handle, _wfinddata_t* entry);

}  // namespace tolvane
