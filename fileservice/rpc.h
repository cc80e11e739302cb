// The file service: the target runs C-library file operations on the host.
#pragma once

#include <cstdint>
#include <string>

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

// Serves the files the settings say from now on: opens the -d directory,
// printing "open: DIR: reason" and returning false when it is no directory.
bool rpc_start(const service_settings& settings);

// Called after an unescaped STX from the line: answers ready, reads one
// request, carries it out when it is whole and writes the reply. Returns
// the bytes to show as text when they were no request after all (noise
// that held an STX), the STX first; else none.
std::string rpc_serve();

// The fields of a request as the handlers read them, in wire order, for
// the handlers outside rpc.cpp: a name of at most LINK_STRING_MAX bytes
// (false: it held more, and is noise), every field there (false: the
// request must not act), numbers; and what the service was started with.
bool rpc_get_name(char* buffer);
bool rpc_whole();
int32_t rpc_get_s32();
void rpc_put_s16(int value);
const service_settings& rpc_service();

}  // namespace tolvane
