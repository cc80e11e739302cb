#include "net/url.h"

#include <cctype>
#include <cstring>

namespace tolvane {

namespace {

struct Scheme {
    const char* prefix;
    net_scheme scheme;
};
constexpr Scheme SCHEMES[] = {{"rfc2217://", net_scheme::rfc2217}, {"tcp://", net_scheme::tcp}};

bool starts_with_nocase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

net_scheme net_url_scheme(const std::string& name) {
    for (const Scheme& s : SCHEMES)
        if (starts_with_nocase(name, s.prefix)) return s.scheme;
    return net_scheme::none;
}

bool net_url_parse(const std::string& name, NetUrl* url, std::string* why) {
    url->scheme = net_url_scheme(name);
    if (url->scheme == net_scheme::none) {
        *why = "not rfc2217:// or tcp://";
        return false;
    }
    std::string rest = name.substr(name.find("//") + 2);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();  // as a browser would write it
    size_t port_at;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            *why = "no ] after the IPv6 address";
            return false;
        }
        url->host = rest.substr(1, close - 1);
        if (close + 1 < rest.size() && rest[close + 1] != ':') {
            *why = "a port must follow the ]";
            return false;
        }
        port_at = close + 1;
    } else {
        port_at = rest.find(':');
        url->host = rest.substr(0, port_at);
        if (port_at != std::string::npos && rest.find(':', port_at + 1) != std::string::npos) {
            *why = "an IPv6 address goes in brackets, as [::1]:3001";
            return false;
        }
    }
    if (url->host.empty()) {
        *why = "no host (HOST:PORT)";
        return false;
    }
    if (port_at == std::string::npos || port_at >= rest.size()) {
        *why = "no port (HOST:PORT)";
        return false;
    }
    url->port = rest.substr(port_at + 1);
    if (url->port.empty()) {
        *why = "no port (HOST:PORT)";
        return false;
    }
    long value = 0;
    for (char c : url->port) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            *why = "port is not a number";
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > 65535) break;
    }
    if (value < 1 || value > 65535) {
        *why = "port is not 1 to 65535";
        return false;
    }
    return true;
}

}  // namespace tolvane
