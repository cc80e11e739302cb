// --timeout: how long the run may take. Every wait of the program sleeps
// at most until the limit; once it has passed, the wait returns and the
// terminal loop ends the run.
#pragma once

#include "base/deadline.h"

namespace tolvane {

// The run starts now, limited to seconds (0: no limit).
void time_limit_start(double seconds);
// The limit as it was given, in seconds; 0 for none.
double time_limit_seconds();
// True once the limit has passed (never without one).
bool time_limit_passed();
// A wait's deadline cut to the limit.
deadline time_limit_cut(deadline wanted);

}  // namespace tolvane
