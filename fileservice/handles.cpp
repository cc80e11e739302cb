#include "fileservice/handles.h"

#include <map>

namespace tolvane {

namespace {

std::map<uint32_t, FILE*> open_streams;
uint32_t next_handle = 1;

}  // namespace

uint32_t handle_add(FILE* stream) {
    if (open_streams.size() >= UINT32_MAX - 1) return 0;
    // Numbers wrap only after four billion opens; skip 0 and live ones.
    while (next_handle == 0 || open_streams.count(next_handle)) ++next_handle;
    const uint32_t handle = next_handle++;
    open_streams[handle] = stream;
    return handle;
}

FILE* handle_stream(uint32_t handle) {
    const auto it = open_streams.find(handle);
    return it == open_streams.end() ? nullptr : it->second;
}

void handle_remove(uint32_t handle) { open_streams.erase(handle); }

}  // namespace tolvane
