// Handles name the target's open streams on the wire. A host stream pointer
// does not fit in 32 bits, so the program hands out its own numbers: never
// 0 (the failed open), and never reused, so a closed handle stays dead.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tolvane {

uint32_t handle_add(FILE* stream);       // 0 only if no number is free
FILE* handle_stream(uint32_t handle);    // null for a handle that names nothing
void handle_remove(uint32_t handle);

}  // namespace tolvane
