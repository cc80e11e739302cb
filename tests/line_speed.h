// A line's speed as the kernel holds it (termios2), for the tests: the
// rate in Baud, and whether it was set by number (BOTHER) rather than by
// a speed code.
#pragma once

namespace line_speed {

struct speed {
    long baud = 0;  // 0: it could not be read
    bool by_number = false;
};

speed read(int fd);

}  // namespace line_speed
