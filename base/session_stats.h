// What the session has done since it started, for the command key's
// statistics: bytes each way on the line and file requests served. One
// record, counted where each thing happens.
#pragma once

#include <chrono>
#include <cstdint>

namespace tolvane {

struct session_stats {
    uint64_t bytes_from_line = 0;  // as read, telnet taken out
    uint64_t bytes_to_line = 0;    // as written, escapes and all
    uint64_t requests = 0;         // each STX served
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

// The run's record.
session_stats& stats();

}  // namespace tolvane
