// Bytes on their way to a file that may take them slowly (a console, a
// pipe, a FIFO nobody drains): kept in order and written as the file takes
// them, never waiting for it.
#pragma once

#include <cstddef>
#include <string>

namespace tolvane {

// Writes what the file takes now: the count taken (0: none now), or -1
// when it failed for good.
using output_write_call = long (*)(const unsigned char* bytes, size_t count);

class output_queue {
public:
    void append(const char* bytes, size_t count) { queued.append(bytes, count); }
    // Writes what the file takes now; false when it failed for good (what
    // is queued is then dropped).
    bool send(output_write_call write);
    size_t pending() const { return queued.size() - sent; }
    void drop();

private:
    std::string queued;
    size_t sent = 0;
};

}  // namespace tolvane
