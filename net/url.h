// Network lines named on the command line: rfc2217://HOST:PORT (telnet with
// the COM-PORT-OPTION, as ser2net's telnet(rfc2217) port serves a serial
// line) and tcp://HOST:PORT (the bytes as they are). HOST is a name, an
// IPv4 address or an IPv6 address in brackets ([::1]:3001).
#pragma once

#include <string>

namespace tolvane {

enum class net_scheme { none, rfc2217, tcp };

struct NetUrl {
    net_scheme scheme = net_scheme::none;
    std::string host;  // without the brackets
    std::string port;  // decimal, 1..65535
};

// The scheme a line name starts with (either case); none for a device.
net_scheme net_url_scheme(const std::string& name);

// Splits a network line's name; false with why ("no port", ...) when it is
// not a usable one. Names of devices are not URLs: check the scheme first.
bool net_url_parse(const std::string& name, NetUrl* url, std::string* why);

}  // namespace tolvane
