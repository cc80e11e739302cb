#include "base/output_queue.h"

namespace tolvane {

namespace {

// What is sent is cut off the front once it is this much: not at every
// write, so that a slow file does not move the rest again and again.
constexpr size_t COMPACT_AT = 65536;

}  // namespace

bool output_queue::send(output_write_call write) {
    while (sent < queued.size()) {
        const long n = write(reinterpret_cast<const unsigned char*>(queued.data()) + sent, queued.size() - sent);
        if (n < 0) {
            drop();
            return false;
        }
        if (n == 0) break;
        sent += static_cast<size_t>(n);
    }
    if (sent == queued.size()) {
        queued.clear();
        sent = 0;
    } else if (sent >= COMPACT_AT) {
        queued.erase(0, sent);
        sent = 0;
    }
    return true;
}

void output_queue::drop() {
    queued.clear();
    sent = 0;
}

}  // namespace tolvane
