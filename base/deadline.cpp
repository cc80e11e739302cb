#include "base/deadline.h"

#include <climits>

namespace tolvane {

deadline deadline::in(long long ms) {
    if (ms < 0) return never();
    deadline d;
    d.never_ = false;
    d.at_ = clock::now() + std::chrono::milliseconds(ms);
    return d;
}

deadline deadline::in_seconds(double seconds) {
    deadline d;
    d.never_ = false;
    d.at_ = clock::now() + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    return d;
}

int deadline::left_ms() const {
    if (never_) return -1;
    const long long left = std::chrono::ceil<std::chrono::milliseconds>(at_ - clock::now()).count();
    if (left <= 0) return 0;
    return left < INT_MAX ? static_cast<int>(left) : INT_MAX;
}

deadline deadline::sooner(const deadline& other) const {
    if (never_) return other;
    if (other.never_) return *this;
    return other.at_ < at_ ? other : *this;
}

}  // namespace tolvane
