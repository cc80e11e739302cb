// A device's termios settings, and whether two of them are the same: what
// every test of "settings back as before" compares.
#pragma once

#include <termios.h>

#include <cstring>

inline struct termios settings(int fd) {
    struct termios t;
    std::memset(&t, 0, sizeof t);
    tcgetattr(fd, &t);
    return t;
}

inline bool same_settings(const struct termios& a, const struct termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}
