#include "base/stop.h"

#include <cstdio>
#include <cstdlib>

#include "base/console.h"

namespace tolvane {

void stop_now(int status) {
    console_end();
    stop_restore();
    std::fflush(nullptr);  // stdout, and what the target wrote to its open files
    std::exit(status);
}

}  // namespace tolvane
