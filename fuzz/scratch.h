// The line target's files. BASE/root is the service root: emptied before
// every input and filled with the same few entries, links among them. The
// service must never reach BASE/outside, which holds a canary file.
#pragma once

#include <string>

namespace scratch {

// BASE is $TOLVANE_FUZZ_DIR, or a new directory in $TMPDIR or /tmp. Makes
// root and outside and returns the root's absolute path.
// Ends the process when any of it fails.
std::string open();

// Empties the root and puts the entries back.
void reset();

// False when anything outside the root changed since open: the canary, the
// entries of outside or of BASE.
bool outside_untouched();

}  // namespace scratch
