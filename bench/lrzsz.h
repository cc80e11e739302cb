// The peer for moving a file over a serial line: lrzsz's sz sends it with
// ZMODEM from the slave of a pty pair, rz receives it on the master, as
// tolvane (slave) serves the target (master).
#pragma once

#include <string>

#include "bench/procs.h"
#include "bench/terminals.h"

namespace bench {

struct Lrzsz {
    std::string sz;  // paths, "" when not installed
    std::string rz;
    PtyPair pair;
    std::string send_dir;     // holds the file
    std::string receive_dir;  // rz's working directory
};

// Sends send_dir/name to receive_dir and checks it arrived whole. The time
// runs from starting both programs to sz's exit (rz has closed the file by
// then); the CPU is sz's, the sending side.
Flow lrzsz_send(Lrzsz& peer, const std::string& name, const std::string& expected);

}  // namespace bench
