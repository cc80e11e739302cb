#include "base/stop.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "base/console.h"

namespace tolvane {

namespace {

std::array<void (*)(), 4> restorers{};

}  // namespace

void stop_restore() {
    for (auto it = restorers.rbegin(); it != restorers.rend(); ++it) {
        if (*it) {
            void (*restore)() = *it;
            *it = nullptr;
            restore();
        }
    }
}

void stop_on_exit(void (*restore)()) {
    for (auto& slot : restorers) {
        if (slot == restore) return;
    }
    for (auto& slot : restorers) {
        if (!slot) {
            slot = restore;
            return;
        }
    }
}

void stop_forget(void (*restore)()) {
    for (auto& slot : restorers) {
        if (slot == restore) slot = nullptr;
    }
}

void stop_now(int status) {
    console_end();
    stop_restore();
    std::fflush(nullptr);  // stdout, and what the target wrote to its open files
    std::exit(status);
}

}  // namespace tolvane
