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
// silent for the request time-out before the request is whole. Its bytes,
// the STX first, are then given back to be shown as text.
#pragma once

#include <cstddef>
#include <string>

#include "base/deadline.h"
#include "base/settings.h"

namespace tolvane {

constexpr int RPC_TEXT_SIZE = 4096;
extern char rpc_text[RPC_TEXT_SIZE];

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
};

// Silence this long before a request is whole makes it noise.
constexpr int REQUEST_PATIENCE_MS = 1000;

// Serves the files the settings say from now on: opens the -d directory,
// printing "open: DIR: reason" and returning false when it is no directory.
bool rpc_start(const service_settings& settings);

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

// An unescaped STX came: answers ready (a bare ETX into the output queue)
// and starts a new request.
void rpc_begin();
// The request's next bytes. Stops at its end: what follows is text.
rpc_step rpc_feed(const unsigned char* bytes, size_t count);
// The bytes of a request that turned out to be noise, its STX first.
const std::string& rpc_noise();
// Until a request is whole, the line falling silent past this makes it
// noise; never once it is whole (a write's data waits as long as it takes).
deadline rpc_patience();
// The patience ran out: the request is noise (rpc_noise).
void rpc_silence();
// The request in progress, and a read's reply still going out, are given
// up: Ctrl-Q, the time-out, or a line that went away. Nothing is shown.
void rpc_abandon();

// A read's data is still going out: the next request waits for it.
bool rpc_replying();
// Queues as much of that data as the line's queue takes now.
void rpc_reply_more();

}  // namespace tolvane
