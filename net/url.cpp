#include "net/url.h"

#include <cctype>
#include <cstring>

namespace tolvane {

namespace {

struct Scheme {
    const char* prefix;
    net_scheme scheme;
};
constexpr Scheme SCHEMES[] = {
    {"rfc2217://", net_scheme::rfc2217}, {"tcp://", net_scheme::tcp}, {"unix:", net_scheme::unix_socket}};

// --share's schemes: the prefix, the kind of talk, and whether a path or
// HOST:PORT follows.
struct ShareScheme {
    const char* prefix;
    share_kind kind;
    bool local;
};
constexpr ShareScheme SHARE_SCHEMES[] = {
    {"unix:", share_kind::raw, true},
    {"tcp:", share_kind::raw, false},
    {"rfc2217:", share_kind::rfc2217, false},
};

// A sun_path holds 108 bytes on Linux, 104 elsewhere, with its NUL.
constexpr size_t LOCAL_PATH_MAX = 103;

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

bool net_url_bytes_only(const std::string& name) {
    const net_scheme scheme = net_url_scheme(name);
    return scheme == net_scheme::tcp || scheme == net_scheme::unix_socket;
}

namespace {

bool local_path(const std::string& path, std::string* why) {
    if (path.empty()) {
        *why = "no path (unix:PATH)";
        return false;
    }
    if (path.size() > LOCAL_PATH_MAX) {
        *why = "path longer than 103 bytes";
        return false;
    }
    return true;
}

// HOST:PORT, HOST a name, an IPv4 address or [IPv6]; an empty host only
// where empty_host says it may be.
bool parse_host_port(std::string rest, bool empty_host, std::string* host, std::string* port, std::string* why);

}  // namespace

bool net_url_parse(const std::string& name, NetUrl* url, std::string* why) {
    url->scheme = net_url_scheme(name);
    if (url->scheme == net_scheme::none) {
        *why = "not rfc2217://, tcp:// or unix:";
        return false;
    }
    if (url->scheme == net_scheme::unix_socket) {
        url->host = name.substr(std::strlen("unix:"));
        url->port.clear();
        return local_path(url->host, why);
    }
    std::string rest = name.substr(name.find("//") + 2);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();  // as a browser would write it
    return parse_host_port(rest, false, &url->host, &url->port, why);
}

bool share_address_parse(const std::string& text, share_address* address, std::string* why) {
    *address = share_address{};
    address->text = text;
    for (const ShareScheme& s : SHARE_SCHEMES) {
        if (!starts_with_nocase(text, s.prefix)) continue;
        address->kind = s.kind;
        address->local = s.local;
        const std::string rest = text.substr(std::strlen(s.prefix));
        if (s.local) {
            address->path = rest;
            return local_path(rest, why);
        }
        return parse_host_port(rest, true, &address->host, &address->port, why);
    }
    *why = "not unix:PATH, tcp:HOST:PORT or rfc2217:HOST:PORT";
    return false;
}

namespace {

bool parse_host_port(std::string rest, bool empty_host, std::string* host, std::string* port, std::string* why) {
    NetUrl parts;
    NetUrl* url = &parts;
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
    if (url->host.empty() && !empty_host) {
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
    *host = url->host;
    *port = url->port;
    return true;
}

}  // namespace

}  // namespace tolvane
