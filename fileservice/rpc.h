// The file service: the target runs C-library file operations on the host.
#pragma once

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
};

// Serves the files the settings say from now on: opens the -d directory,
// printing "open: DIR: reason" and returning false when it is no directory.
bool rpc_start(const service_settings& settings);

// Called after an unescaped STX from the line: answers ready, reads one
// request, carries it out when it is whole and writes the reply. Returns
// the bytes to show as text when they were no request after all (noise
// that held an STX), the STX first; else none.
std::string rpc_serve();

}  // namespace tolvane
