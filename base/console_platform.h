// What each platform's console does for the shared output path
// (base/console.cpp): writes the target's bytes out, unchanged.
#pragma once

#include <cstddef>

namespace tolvane {

// Writes bytes to standard output, straight to the device; a console that
// has gone away takes them silently (the line is still served).
void console_write_out(const unsigned char* bytes, size_t count);

}  // namespace tolvane
