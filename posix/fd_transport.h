// The POSIX lines (a tty, a socket) are each a file descriptor, which the
// wait polls (posix/wait.cpp).
#pragma once

#include "base/line_transport.h"

namespace tolvane {

class fd_transport : public line_transport {
public:
    int fd = -1;

    void add_waits(wait_set* set) override;

protected:
    // A failed read or write: result 0 is the other end closing.
    long failed(long result, int error);
    // What the driver or the kernel still holds for the other end.
    size_t queued_in_kernel() const;
};

bool worth_retrying(int error);

}  // namespace tolvane
