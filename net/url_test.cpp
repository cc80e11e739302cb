#include "net/url.h"

#include <gtest/gtest.h>

using namespace tolvane;

TEST(NetUrl, SchemesAreKnownInEitherCaseAndDevicesAreNot) {
    EXPECT_EQ(net_url_scheme("rfc2217://lab:3001"), net_scheme::rfc2217);
    EXPECT_EQ(net_url_scheme("RFC2217://lab:3001"), net_scheme::rfc2217);
    EXPECT_EQ(net_url_scheme("tcp://lab:3001"), net_scheme::tcp);
    EXPECT_EQ(net_url_scheme("/dev/ttyUSB0"), net_scheme::none);
    EXPECT_EQ(net_url_scheme("COM3"), net_scheme::none);
    EXPECT_EQ(net_url_scheme("udp://lab:3001"), net_scheme::none);
    EXPECT_EQ(net_url_scheme("tcp:/lab:3001"), net_scheme::none);
}

TEST(NetUrl, GoodNamesSplitIntoHostAndPort) {
    struct Case {
        const char* name;
        const char* host;
        const char* port;
    };
    const Case cases[] = {
        {"rfc2217://lab-host:3001", "lab-host", "3001"},
        {"tcp://192.168.1.20:4001", "192.168.1.20", "4001"},
        {"rfc2217://[::1]:3001", "::1", "3001"},
        {"tcp://[fe80::1%eth0]:1", "fe80::1%eth0", "1"},
        {"rfc2217://lab:65535/", "lab", "65535"},
    };
    for (const Case& c : cases) {
        NetUrl url;
        std::string why;
        ASSERT_TRUE(net_url_parse(c.name, &url, &why)) << c.name << ": " << why;
        EXPECT_EQ(url.host, c.host) << c.name;
        EXPECT_EQ(url.port, c.port) << c.name;
    }
}

TEST(NetUrl, BadNamesSayWhatIsWrong) {
    struct Case {
        const char* name;
        const char* why;
    };
    const Case cases[] = {
        {"rfc2217://lab", "no port (HOST:PORT)"},
        {"rfc2217://lab:", "no port (HOST:PORT)"},
        {"tcp://[::1]", "no port (HOST:PORT)"},
        {"tcp://lab:telnet", "port is not a number"},
        {"tcp://lab:30x1", "port is not a number"},
        {"tcp://lab:-1", "port is not a number"},
        {"tcp://lab:0", "port is not 1 to 65535"},
        {"tcp://lab:65536", "port is not 1 to 65535"},
        {"tcp://lab:99999999999999999999", "port is not 1 to 65535"},
        {"tcp://:3001", "no host (HOST:PORT)"},
        {"tcp://", "no host (HOST:PORT)"},
        {"tcp://[]:3001", "no host (HOST:PORT)"},
        {"tcp://::1:3001", "an IPv6 address goes in brackets, as [::1]:3001"},
        {"tcp://[::1:3001", "no ] after the IPv6 address"},
        {"tcp://[::1]3001", "a port must follow the ]"},
        {"tcp://lab:3001/x", "port is not a number"},
    };
    for (const Case& c : cases) {
        NetUrl url;
        std::string why;
        EXPECT_FALSE(net_url_parse(c.name, &url, &why)) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
    }
}

// --share's addresses: each scheme's kind, a path or HOST:PORT (the host
// may be left out: every address), and what is wrong with a bad one.
TEST(ShareAddress, SchemesSplitAndBadOnesSayWhy) {
    struct Case {
        const char* text;
        bool ok;
        bool local;
        const char* path_or_host;
        const char* port;  // or the reason when !ok
    };
    const Case cases[] = {
        {"unix:/tmp/board.sock", true, true, "/tmp/board.sock", ""},
        {"UNIX:rel.sock", true, true, "rel.sock", ""},
        {"tcp:127.0.0.1:4000", true, false, "127.0.0.1", "4000"},
        {"tcp::4000", true, false, "", "4000"},
        {"tcp:[::1]:4000", true, false, "::1", "4000"},
        {"rfc2217:127.0.0.1:4000", true, false, "127.0.0.1", "4000"},
        {"RFC2217::4000", true, false, "", "4000"},
        {"rfc2217:lab", false, false, "", "no port (HOST:PORT)"},
        {"unix:", false, true, "", "no path (unix:PATH)"},
        {"tcp:lab", false, false, "", "no port (HOST:PORT)"},
        {"tcp:lab:0", false, false, "", "port is not 1 to 65535"},
        {"udp:lab:4000", false, false, "", "not unix:PATH, tcp:HOST:PORT or rfc2217:HOST:PORT"},
        {"/tmp/board.sock", false, false, "", "not unix:PATH, tcp:HOST:PORT or rfc2217:HOST:PORT"},
    };
    for (const Case& c : cases) {
        share_address a;
        std::string why;
        ASSERT_EQ(share_address_parse(c.text, &a, &why), c.ok) << c.text << ": " << why;
        if (!c.ok) {
            EXPECT_EQ(why, c.port) << c.text;
            continue;
        }
        const bool rfc2217 = (c.text[0] | 0x20) == 'r';
        EXPECT_EQ(a.kind, rfc2217 ? share_kind::rfc2217 : share_kind::raw) << c.text;
        EXPECT_EQ(a.local, c.local) << c.text;
        EXPECT_EQ(c.local ? a.path : a.host, c.path_or_host) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
        EXPECT_EQ(a.text, c.text);
    }
    share_address a;
    std::string why;
    EXPECT_FALSE(share_address_parse("unix:" + std::string(104, 'x'), &a, &why));
    EXPECT_EQ(why, "path longer than 103 bytes");
}

TEST(NetUrl, UnixLinesNameAPathAndCarryBytesOnly) {
    NetUrl url;
    std::string why;
    ASSERT_TRUE(net_url_parse("unix:/run/b1.sock", &url, &why)) << why;
    EXPECT_EQ(url.scheme, net_scheme::unix_socket);
    EXPECT_EQ(url.host, "/run/b1.sock");
    EXPECT_FALSE(net_url_parse("unix:", &url, &why));
    EXPECT_TRUE(net_url_bytes_only("unix:/run/b1.sock"));
    EXPECT_TRUE(net_url_bytes_only("tcp://lab:1"));
    EXPECT_FALSE(net_url_bytes_only("rfc2217://lab:1"));
    EXPECT_FALSE(net_url_bytes_only("/dev/ttyUSB0"));
}
