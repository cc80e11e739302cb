#include "base/stop.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "base/console.h"

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

void stop_now(int status) {
    console_end();
    stop_restore();
    std::fflush(nullptr);  // stdout, and what the target wrote to its open files
    std::exit(status);
}

}  // namespace tolvane
