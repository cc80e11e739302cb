// A moment a wait may last until, as a value: each wait asks it how long
// is left instead of doing the clock arithmetic itself.
#pragma once

#include <chrono>

namespace tolvane {

class deadline {
public:
    using clock = std::chrono::steady_clock;

    // ms from now; a negative ms never comes.
    static deadline in(long long ms);
    static deadline in_seconds(double seconds);
    static deadline never() { return deadline(); }

    bool is_never() const { return never_; }
    bool passed() const { return !never_ && clock::now() >= at_; }
    // What a poll or a WaitForMultipleObjects may sleep: -1 for never, 0
    // once passed, else the milliseconds left, rounded up so that a wait
    // never wakes just before its deadline.
    int left_ms() const;
    // The sooner of the two.
    deadline sooner(const deadline& other) const;

private:
    deadline() = default;
    bool never_ = true;
    clock::time_point at_{};
};

}  // namespace tolvane
