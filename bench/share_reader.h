// A client of tolvane --share that reads every byte as fast as it comes,
// in a thread of its own, and keeps none.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

namespace bench {

struct ShareReader {
    int fd = -1;
    std::atomic<bool> stop{false};
    std::atomic<size_t> bytes{0};
    std::thread thread;
};

// Connects to the unix socket at path and starts reading; false when it
// could not connect.
bool share_reader_start(ShareReader& r, const std::string& path);
void share_reader_stop(ShareReader& r);

}  // namespace bench
