// --timeout: how long the run may take. Every wait of the program sleeps
// at most until the limit; once it has passed, the wait returns and the
// terminal loop ends the run.
#pragma once

namespace tolvane {

// The run starts now, limited to time_limit_seconds (base/settings.h).
void time_limit_start();
// True once the limit has passed (never without one).
bool time_limit_passed();
// A wait's time-out for poll: ms_wanted (-1: no end) cut to what is left
// of the limit.
int time_limit_wait_ms(int ms_wanted);

}  // namespace tolvane
