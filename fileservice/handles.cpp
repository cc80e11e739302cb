#include "fileservice/handles.h"

#include <sys/stat.h>

namespace tolvane {

namespace {

// Moves the stream to where it stands, which ends the last direction. A push
// back before the start of the file leaves no position to go to; the start
// is the nearest one.
bool reposition(host_stream* stream) {
    if (std::fseek(stream->file, 0, SEEK_CUR) == 0) return true;
    return stream->last == stream_use::pushed_back && std::fseek(stream->file, 0, SEEK_SET) == 0;
}

}  // namespace

uint32_t handle_add(handle_table& t, FILE* file, const open_mode& mode) {
    if (t.open_streams.size() >= UINT32_MAX - 1) return 0;
    // Numbers wrap only after four billion opens; skip 0 and live ones.
    while (t.next_handle == 0 || t.open_streams.count(t.next_handle)) ++t.next_handle;
    const uint32_t handle = t.next_handle++;
    struct stat st;
    const bool pipe = fstat(fileno(file), &st) == 0 && (st.st_mode & S_IFMT) == S_IFIFO;
    t.open_streams[handle] = host_stream{file, mode.reads, mode.writes, stream_use::none, pipe};
    return handle;
}

host_stream* handle_stream(handle_table& t, uint32_t handle) {
    const auto it = t.open_streams.find(handle);
    return it == t.open_streams.end() ? nullptr : &it->second;
}

void handle_remove(handle_table& t, uint32_t handle) { t.open_streams.erase(handle); }

void handle_close_all(handle_table& t) {
    for (auto& entry : t.open_streams) std::fclose(entry.second.file);
    t.open_streams.clear();
    t.next_handle = 1;
}

FILE* stream_for_input(host_stream* stream) {
    if (stream == nullptr || !stream->readable) return nullptr;
    // Output may go on to input after a flush where the stream cannot seek.
    if (stream->last == stream_use::output && !reposition(stream)) std::fflush(stream->file);
    if (stream->last != stream_use::pushed_back) stream->last = stream_use::input;
    // A FIFO read before any writer came gave end of file; the C library
    // keeps that, but a writer that comes later has bytes to read.
    if (stream->pipe) std::clearerr(stream->file);
    return stream->file;
}

FILE* stream_for_output(host_stream* stream) {
    if (stream == nullptr || !stream->writable) return nullptr;
    if ((stream->last == stream_use::input || stream->last == stream_use::pushed_back) && !reposition(stream))
        return nullptr;
    stream->last = stream_use::output;
    return stream->file;
}

FILE* stream_for_push_back(host_stream* stream) {
    if (stream == nullptr || !stream->readable || stream->last == stream_use::output) return nullptr;
    stream->last = stream_use::pushed_back;
    return stream->file;
}

void stream_positioned(host_stream* stream) {
    if (stream) stream->last = stream_use::none;
}

}  // namespace tolvane
