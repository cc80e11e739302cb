#include "base/time_limit.h"

namespace tolvane {

namespace {

struct time_limit {
    double seconds = 0;
    deadline end = deadline::never();
};
time_limit limit;

}  // namespace

void time_limit_start(double seconds) {
    limit.seconds = seconds;
    limit.end = seconds > 0 ? deadline::in_seconds(seconds) : deadline::never();
}

double time_limit_seconds() { return limit.seconds; }

bool time_limit_passed() { return limit.end.passed(); }

deadline time_limit_cut(deadline wanted) { return wanted.sooner(limit.end); }

}  // namespace tolvane
