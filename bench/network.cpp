#include "bench/network.h"

namespace bench {

NetTerminal start_tolvane_over(Relay relay, const std::string& tolvane, const std::string& dir,
                               const std::string& relay_dir) {
    NetTerminal n;
    PtyPair board = open_raw_pty();
    std::string why, url;
    if (relay != Relay::socat_tcp) {
        auto server = std::make_unique<e2e::Ser2net>();
        if (relay == Relay::ser2net_rfc2217_no_chardelay) server->options = "chardelay: false";
        why = e2e::start_ser2net(*server, board.path, relay_dir);
        url = server->rfc2217_url();
        n.relay = std::move(server);
    } else {
        auto server = std::make_unique<e2e::Socat>();
        why = e2e::start_socat(*server, board.path, relay_dir);
        url = server->url();
        n.relay = std::move(server);
    }
    if (!why.empty()) {
        n.missing = why.find("not installed") != std::string::npos;
        n.t.why_not = why;
        close_pty(board);
        return n;
    }
    n.t = start_tolvane_via(tolvane, dir, url, board);
    return n;
}

bool stop_tolvane_over(NetTerminal& n) {
    const bool clean = n.t.pid <= 0 || stop_tolvane(n.t);
    if (n.relay) e2e::stop(*n.relay);
    return clean;
}

}  // namespace bench
