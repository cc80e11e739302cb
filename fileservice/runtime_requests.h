// The C runtime beyond the streams: stat of a name and of an open stream,
// make and remove a directory, the host's time, the target's exit status,
// and the version request that says what this host serves. Each handler
// runs once its request's fields are in (fileservice/rpc.cpp parses them),
// acts, then replies (docs/protocol.md).
#pragma once

#include <cstdint>
#include <cstdio>

namespace tolvane {

// What the version request answers: this protocol's version, and one bit
// per request code served (bit n: code n).
constexpr int RPC_PROTOCOL_VERSION = 1;

struct file_service;

// Serves the whole request of this code when it is one of these; false
// when the code is none of them.
bool runtime_request_serve(file_service& fs, int code);

// A result on the wire: 0 is success, a negative number the reason, which
// the target turns into its errno.
enum runtime_result : int {
    RUNTIME_OK = 0,
    RUNTIME_EIO = -1,  // any reason not below
    RUNTIME_ENOENT = -2,
    RUNTIME_EEXIST = -3,
    RUNTIME_ENOTDIR = -4,
    RUNTIME_ENOTEMPTY = -5,
    RUNTIME_EACCES = -6,
    RUNTIME_EROFS = -7,  // -p
    RUNTIME_ENAMETOOLONG = -8,
    RUNTIME_ENOSPC = -9,
    RUNTIME_EBUSY = -10,
    RUNTIME_EINVAL = -11,
    RUNTIME_EBADF = -12,  // a handle that names no open stream
};
int runtime_result_of_errno(int error);

enum runtime_kind : uint16_t { KIND_OTHER = 0, KIND_FILE = 1, KIND_DIRECTORY = 2 };

// Sizes and times beyond 32 bits are held to 0 .. 0xFFFFFFFF.
struct runtime_status {
    uint16_t kind;
    uint32_t size;
    uint32_t modified;  // seconds since 1970-01-01 00:00 UTC
};
uint32_t runtime_held(long long value);

// The platform's part (runtime_requests-posix.cpp, -win32.cpp): a
// runtime_result each, names taken beneath the service root as the other
// requests' are.
int runtime_stat(const char* name, runtime_status* status);
// The stream's buffered output is written first, so its size counts it.
int runtime_fstat(FILE* stream, bool flush, runtime_status* status);
// Seconds since 1970-01-01 00:00 UTC and the microseconds into that second.
void runtime_time(uint32_t* seconds, uint32_t* microseconds);

}  // namespace tolvane
