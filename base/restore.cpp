// The list of what the ways out put back, apart from the ways out
// themselves (base/stop.cpp), so that a part that registers needs no more
// of them.
#include "base/stop.h"

#include <array>

namespace tolvane {

namespace {

struct restorer {
    void (*restore)(void*) = nullptr;
    void* context = nullptr;
    bool is(void (*r)(void*), void* c) const { return restore == r && context == c; }
};
std::array<restorer, 4> restorers{};

}  // namespace

void stop_restore() {
    for (auto it = restorers.rbegin(); it != restorers.rend(); ++it) {
        if (it->restore) {
            const restorer r = *it;
            *it = restorer{};
            r.restore(r.context);
        }
    }
}

void stop_on_exit(void (*restore)(void*), void* context) {
    for (auto& slot : restorers) {
        if (slot.is(restore, context)) return;
    }
    for (auto& slot : restorers) {
        if (!slot.restore) {
            slot = restorer{restore, context};
            return;
        }
    }
}

void stop_forget(void (*restore)(void*), void* context) {
    for (auto& slot : restorers) {
        if (slot.is(restore, context)) slot = restorer{};
    }
}

void stop_forget_all(void* context) {
    for (auto& slot : restorers) {
        if (slot.restore && slot.context == context) slot = restorer{};
    }
}

}  // namespace tolvane
