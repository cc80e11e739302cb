// The file service: the target runs C-library file operations on the host.
//
// A request is parsed as its bytes arrive, in whatever pieces the line
// hands them over: nothing here waits for the line. The terminal's frame
// demultiplexer starts one at an unescaped STX (rpc_begin) and hands it
// the bytes that follow (rpc_feed) until it is over. A request is served
// once its last field is in; the reply goes into the line's output queue,
// and a read's data as fast as the line takes it (rpc_reply_more).
//
// One place decides what was no request after all: a field longer than
// any target sends, data for a handle that names nothing, or the line
// silent for the request time-out (--request-timeout; none with 0) before
// the request is whole. Its bytes,
// the STX first, are then given back to be shown as text.
#pragma once

#include <array>
#include <deque>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/block_codec.h"
#include "base/deadline.h"
#include "base/settings.h"
#include "fileservice/handles.h"
#include "link/link.h"

namespace tolvane {

// Request codes, one per C operation.
enum RpcCode {
    RPC_OPEN = 0,
    RPC_READ = 1,
    RPC_WRITE = 2,
    RPC_CLOSE = 3,
    RPC_GETC = 4,
    RPC_PUTC = 5,
    RPC_GETS = 6,
    RPC_PUTS = 7,
    RPC_FIND_FIRST = 8,
    RPC_FIND_NEXT = 9,
    RPC_REMOVE = 10,
    RPC_RENAME = 11,
    RPC_TELL = 12,
    RPC_SEEK = 13,
    RPC_UNGETC = 14,
    // The C runtime beyond the streams (fileservice/runtime_requests.h).
    RPC_VERSION = 15,
    RPC_STAT = 16,
    RPC_FSTAT = 17,
    RPC_MKDIR = 18,
    RPC_RMDIR = 19,
    RPC_TIME = 20,
    RPC_EXIT = 21,
};
constexpr int RPC_CODES = 22;  // 0 .. RPC_CODES - 1 are served

// What became of the bytes handed to rpc_feed.
enum class rpc_status {
    more,   // the request goes on: hand it the next bytes
    done,   // served (a read's data may still be going out)
    noise,  // no request: rpc_noise() holds its bytes, to show as text
};
struct rpc_step {
    size_t used;  // bytes of the piece taken; the rest is the terminal's
    rpc_status status;
};

constexpr int RPC_TEXT_SIZE = 4096;
constexpr size_t RPC_FIELDS_MAX = 3;
// Read and write data move between the stream and the line a block at a
// time; a 4096-byte request is one block, a 65536-byte one four.
constexpr size_t RPC_DATA_BLOCK_SIZE = 16384;

// The file service's state: what it serves, the request being parsed and
// a read's reply going out. One per session, handed to every call.
struct line_state;
struct file_service {
    service_settings settings;
    // The line the replies go to (the session's); set before the first
    // request.
    line_state* line = nullptr;
    // The streams the target opened, by the handles it was given.
    handle_table handles;

    enum class phase { idle, code, fields, data };
    // The request being parsed. Its raw bytes are kept until it is whole,
    // so that one that turns out to be noise (boot text at the wrong
    // speed, say) is shown as text instead of swallowed.
    struct request {
        phase at = phase::idle;
        bool code_after_dle = false;
        int code = 0;
        size_t field_index = 0;
        block_decoder decoder;
        size_t stored = 0;  // bytes of the current field so far
        std::array<unsigned char, 4> number_bytes{};
        std::array<uint32_t, RPC_FIELDS_MAX> numbers{};
        size_t texts = 0;  // string fields done: the first in text, the second in short_text
        char short_text[LINK_STRING_MAX + 1] = {};
        std::string recorded;
        deadline patience = deadline::never();
        // The write's stream, and whether it was made ready by a first byte.
        host_stream* write_stream = nullptr;
        FILE* write_file = nullptr;
        bool wrote = false;
    };
    // A read whose data is still going out.
    struct read_reply {
        bool active = false;
        FILE* stream = nullptr;
        int32_t count = 0;
        int32_t sent = 0;
    };

    request req;
    read_reply reply;
    // The target's exit request: its status, until the terminal takes it.
    bool exited = false;
    long exit_status = 0;
    std::string noise;  // the bytes of the last request that was noise
    // The first text field of a request (a name, a pattern, put text's
    // text) and the line get line reads.
    char text[RPC_TEXT_SIZE] = {};
    std::array<unsigned char, RPC_DATA_BLOCK_SIZE> block;
    // The calls as -r prints them ("fopen(t.txt,w) = 1"), kept for the
    // terminal (--events) when record_calls is set, the oldest dropped past
    // RPC_CALLS_MAX; trace_line is the call being served.
    bool record_calls = false;
    std::string trace_line;
    std::deque<std::string> calls;
};

constexpr size_t RPC_CALLS_MAX = 64;

// Whether the requests' calls are traced: -r, or kept for the terminal.
inline bool rpc_tracing(const file_service& fs) { return fs.settings.trace || fs.record_calls; }
// More of the call being served, printf-like; at its line end the whole
// line is printed (-r) and kept (record_calls).
void rpc_trace(file_service& fs, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// The oldest call kept, taken; false when none is.
bool rpc_take_call(file_service& fs, std::string* call);

// Serves the files the settings say from now on: opens the -d directory,
// printing "open: DIR: reason" and returning false when it is no directory.
bool rpc_start(file_service& fs, const service_settings& settings);

// An unescaped STX came: answers ready (a bare ETX into the output queue)
// and starts a new request.
void rpc_begin(file_service& fs);
// The request's next bytes. Stops at its end: what follows is text.
rpc_step rpc_feed(file_service& fs, const unsigned char* bytes, size_t count);
// The bytes of a request that turned out to be noise, its STX first.
const std::string& rpc_noise(const file_service& fs);
// Until a request is whole, the line falling silent past this makes it
// noise; never once it is whole (a write's data waits as long as it takes).
deadline rpc_patience(const file_service& fs);
// The patience ran out: the request is noise (rpc_noise).
void rpc_silence(file_service& fs);
// The request in progress, and a read's reply still going out, are given
// up: Ctrl-Q, the time-out, or a line that went away. Nothing is shown.
void rpc_abandon(file_service& fs);

// The status of the target's exit request, once: true the first time it is
// asked after one came.
bool rpc_take_exit_status(file_service& fs, long* status);

// A read's data is still going out: the next request waits for it.
bool rpc_replying(const file_service& fs);
// Queues as much of that data as the line's queue takes now.
void rpc_reply_more(file_service& fs);

}  // namespace tolvane
