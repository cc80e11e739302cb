#include "base/time_limit.h"

#include <chrono>
#include <climits>

#include "base/settings.h"

namespace tolvane {

namespace {

using clock = std::chrono::steady_clock;

bool limited = false;
clock::time_point deadline;

long long ms_left() {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count();
    return left > 0 ? left : 0;
}

}  // namespace

void time_limit_start() {
    limited = time_limit_seconds > 0;
    if (limited)
        deadline = clock::now() + std::chrono::duration_cast<clock::duration>(
                                      std::chrono::duration<double>(time_limit_seconds));
}

bool time_limit_passed() { return limited && clock::now() >= deadline; }

int time_limit_wait_ms(int ms_wanted) {
    if (!limited) return ms_wanted;
    const long long left = ms_left();
    if (ms_wanted >= 0 && ms_wanted < left) return ms_wanted;
    return left < INT_MAX ? static_cast<int>(left) : INT_MAX;
}

}  // namespace tolvane
