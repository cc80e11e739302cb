// Rates by number through Linux's termios2. Its header defines its own
// struct termios, so <termios.h> must stay out of this file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <climits>

#include "posix/speed.h"

namespace tolvane {

bool speed_set_other(int fd, long baud) {
    if (baud > static_cast<long>(UINT_MAX)) {
        errno = EINVAL;
        return false;
    }
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    // The input speed bits cleared: input runs at the output's speed.
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER;
    t.c_ospeed = static_cast<speed_t>(baud);
    t.c_ispeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &t) == 0;
}

// The kernel keeps c_ospeed in Baud whichever way the speed was set.
long speed_in_force(int fd) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return static_cast<long>(t.c_ospeed);
}

}  // namespace tolvane
