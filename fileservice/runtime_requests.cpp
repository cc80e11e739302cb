#include "fileservice/runtime_requests.h"

#include <cerrno>
#include <string>

#include "base/console.h"
#include "base/text_format.h"
#include "fileservice/confine.h"
#include "fileservice/handles.h"
#include "fileservice/names.h"
#include "fileservice/reply.h"
#include "fileservice/rpc.h"

namespace tolvane {

namespace {

bool tracing(const file_service& fs) { return rpc_tracing(fs); }

const char* kind_name(uint16_t kind) {
    return kind == KIND_FILE ? "file" : kind == KIND_DIRECTORY ? "directory" : "other";
}

// result, then the status when it is 0.
void send_status(file_service& fs, const char* what, int result, const runtime_status& status) {
    reply_s16(*fs.line, result);
    if (result == RUNTIME_OK) {
        reply_u16(*fs.line, status.kind);
        reply_u32(*fs.line, status.size);
        reply_u32(*fs.line, status.modified);
    }
    if (!tracing(fs)) return;
    if (result == RUNTIME_OK)
        rpc_trace(fs, "%s = 0 %s %lu\n", what, kind_name(status.kind), static_cast<unsigned long>(status.size));
    else
        rpc_trace(fs, "%s = %d\n", what, result);
}

void serve_version(file_service& fs) {
    const uint32_t served = (uint32_t{1} << RPC_CODES) - 1;
    reply_u16(*fs.line, RPC_PROTOCOL_VERSION);
    reply_u32(*fs.line, served);
    if (tracing(fs)) rpc_trace(fs, "version() = %d %lx\n", RPC_PROTOCOL_VERSION, static_cast<unsigned long>(served));
}

void serve_stat(file_service& fs) {
    host_file_name(fs.text);
    runtime_status status{};
    const int result = runtime_stat(fs.text, &status);
    const std::string what = "stat(" + text_escaped(fs.text) + ")";
    send_status(fs, what.c_str(), result, status);
}

void serve_fstat(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    const host_stream* stream = handle_stream(fs.handles, handle);
    runtime_status status{};
    const int result = stream ? runtime_fstat(stream->file, stream->last == stream_use::output, &status) : RUNTIME_EBADF;
    char what[32];
    std::snprintf(what, sizeof what, "fstat(%lx)", static_cast<unsigned long>(handle));
    send_status(fs, what, result, status);
}

// mkdir and rmdir: refused with -p, as every request that changes a file.
void serve_directory(file_service& fs, const char* what, int (*call)(const char*)) {
    host_file_name(fs.text);
    int result = RUNTIME_EROFS;
    if (!fs.settings.read_only) result = call(fs.text) == 0 ? RUNTIME_OK : runtime_result_of_errno(errno);
    reply_s16(*fs.line, result);
    if (tracing(fs)) rpc_trace(fs, "%s(%s) = %d\n", what, text_escaped(fs.text).c_str(), result);
}

void serve_time(file_service& fs) {
    uint32_t seconds = 0, microseconds = 0;
    runtime_time(&seconds, &microseconds);
    reply_u32(*fs.line, seconds);
    reply_u32(*fs.line, microseconds);
    if (tracing(fs))
        rpc_trace(fs, "time() = %lu.%06lu\n", static_cast<unsigned long>(seconds), static_cast<unsigned long>(microseconds));
}

// No reply: a target that exits waits for nothing.
void serve_exit(file_service& fs) {
    fs.exited = true;
    fs.exit_status = static_cast<int32_t>(fs.req.numbers[0]);
    if (tracing(fs)) rpc_trace(fs, "exit(%ld)\n", fs.exit_status);
}

}  // namespace

bool runtime_request_serve(file_service& fs, int code) {
    switch (code) {
    case RPC_VERSION: serve_version(fs); return true;
    case RPC_STAT: serve_stat(fs); return true;
    case RPC_FSTAT: serve_fstat(fs); return true;
    case RPC_MKDIR: serve_directory(fs, "mkdir", confine_mkdir); return true;
    case RPC_RMDIR: serve_directory(fs, "rmdir", confine_rmdir); return true;
    case RPC_TIME: serve_time(fs); return true;
    case RPC_EXIT: serve_exit(fs); return true;
    default: return false;
    }
}

int runtime_result_of_errno(int error) {
    switch (error) {
    case ENOENT: return RUNTIME_ENOENT;
    case EEXIST: return RUNTIME_EEXIST;
    case ENOTDIR: return RUNTIME_ENOTDIR;
    case ENOTEMPTY: return RUNTIME_ENOTEMPTY;
    case EACCES:
    case EPERM: return RUNTIME_EACCES;
    case EROFS: return RUNTIME_EROFS;
    case ENAMETOOLONG: return RUNTIME_ENAMETOOLONG;
    case ENOSPC: return RUNTIME_ENOSPC;
    case EBUSY: return RUNTIME_EBUSY;
    case EINVAL: return RUNTIME_EINVAL;
    case EBADF: return RUNTIME_EBADF;
    default: return RUNTIME_EIO;
    }
}

uint32_t runtime_held(long long value) {
    if (value < 0) return 0;
    return value > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

}  // namespace tolvane
