// tolvane with its line over the network: the pty the benchmark writes as
// the board, served by a real ser2net (telnet(rfc2217)) or by socat as a
// plain relay (raw tcp), both on 127.0.0.1.
#pragma once

#include <memory>
#include <string>

#include "bench/terminals.h"
#include "tests/net_servers.h"

namespace bench {

enum class Relay { ser2net_rfc2217, ser2net_rfc2217_no_chardelay, socat_tcp };

struct NetTerminal {
    Terminal t;                         // t.line is the board's pty
    std::unique_ptr<e2e::Server> relay;  // stops when this goes
    bool missing = false;               // the relay is not installed
};

// Starts the relay (its configuration and log in relay_dir) and tolvane on
// its URL, in dir; t.pid is -1 (and t.why_not says why) when it could not.
NetTerminal start_tolvane_over(Relay relay, const std::string& tolvane, const std::string& dir,
                               const std::string& relay_dir);
bool stop_tolvane_over(NetTerminal& n);

}  // namespace bench
