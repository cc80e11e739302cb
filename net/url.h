// Network lines named on the command line: rfc2217://HOST:PORT (telnet with
// the COM-PORT-OPTION, as ser2net's telnet(rfc2217) port serves a serial
// line) and tcp://HOST:PORT (the bytes as they are). HOST is a name, an
// IPv4 address or an IPv6 address in brackets ([::1]:3001). unix:PATH is
// a local socket: another tolvane's --share (the bytes as they are).
#pragma once

#include <string>

namespace tolvane {

enum class net_scheme { none, rfc2217, tcp, unix_socket };

struct NetUrl {
    net_scheme scheme = net_scheme::none;
    std::string host;  // without the brackets; unix_socket: the path
    std::string port;  // decimal, 1..65535
};

// The scheme a line name starts with (either case); none for a device.
net_scheme net_url_scheme(const std::string& name);

// A line that carries the bytes as they are, with no speed, frame or
// modem lines of its own: tcp:// and unix:.
bool net_url_bytes_only(const std::string& name);

// Splits a network line's name; false with why ("no port", ...) when it is
// not a usable one. Names of devices are not URLs: check the scheme first.
bool net_url_parse(const std::string& name, NetUrl* url, std::string* why);

// Where --share listens, and in what kind of talk (net/share_kind.h):
// unix:PATH, tcp:HOST:PORT (the bytes as they are), and each kind's own
// scheme (a row of the table in url.cpp).
enum class share_kind { raw, rfc2217 };
struct share_address {
    share_kind kind = share_kind::raw;
    bool local = false;  // unix:PATH; else HOST:PORT
    std::string path;
    std::string host;  // without the brackets; empty: every address
    std::string port;
    std::string text;  // as given, for the messages
};
bool share_address_parse(const std::string& text, share_address* address, std::string* why);

}  // namespace tolvane
