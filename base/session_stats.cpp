#include "base/session_stats.h"

namespace tolvane {

session_stats& stats() {
    static session_stats record;
    return record;
}

}  // namespace tolvane
