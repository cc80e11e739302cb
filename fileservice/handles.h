// Handles name the target's open streams on the wire. A host stream pointer
// does not fit in 32 bits, so the program hands out its own numbers: never
// 0 (the failed open), and never reused, so a closed handle stays dead.
//
// Each stream also remembers what its mode allows and which way it was used
// last. The C library wants a positioning call between output and input on
// one stream, and a push back after output is undefined; a target that
// breaks those rules could crash the host or lose data, so the host keeps
// them for it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>

#include "fileservice/open_mode.h"

namespace tolvane {

enum class stream_use : uint8_t { none, input, pushed_back, output };

struct host_stream {
    FILE* file;
    bool readable;
    bool writable;
    stream_use last;
    // A FIFO or pipe: its end of file lasts only until a writer comes.
    bool pipe = false;
};

// The target's open streams by handle, and the next number to hand out.
// One per file service.
struct handle_table {
    std::map<uint32_t, host_stream> open_streams;
    uint32_t next_handle = 1;
};

uint32_t handle_add(handle_table& t, FILE* file, const open_mode& mode);  // 0 only if no number is free
host_stream* handle_stream(handle_table& t, uint32_t handle);  // null for a handle that names nothing
void handle_remove(handle_table& t, uint32_t handle);
// Closes every stream and starts the numbering afresh.
void handle_close_all(handle_table& t);

// The stream ready for the next operation of that kind, repositioned where
// the direction changes; null when the stream is none, its mode does not
// allow the operation, or it cannot be made ready without harm.
FILE* stream_for_input(host_stream* stream);
FILE* stream_for_output(host_stream* stream);
// A push back only follows input or a fresh position, never output.
FILE* stream_for_push_back(host_stream* stream);
// After a successful seek: either direction may follow.
void stream_positioned(host_stream* stream);

}  // namespace tolvane
