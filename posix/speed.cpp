#include "posix/speed.h"

#include <termios.h>

#include <array>

namespace tolvane {

namespace {

struct speed_entry {
    long baud;
    speed_t code;
};

constexpr speed_entry SPEED_CODES[] = {
    {300, B300},         {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

// The most a driver's rate may be off, in percent.
constexpr long SPEED_TOLERANCE_PERCENT = 3;

}  // namespace

bool speed_code(long baud, unsigned* code) {
    for (const auto& s : SPEED_CODES) {
        if (s.baud == baud) {
            *code = s.code;
            return true;
        }
    }
    return false;
}

bool speed_matches(long asked, long in_force) {
    if (asked <= 0 || in_force <= 0) return false;
    const long long off = in_force > asked ? in_force - asked : asked - in_force;
    return off * 100 <= static_cast<long long>(asked) * SPEED_TOLERANCE_PERCENT;
}

}  // namespace tolvane
