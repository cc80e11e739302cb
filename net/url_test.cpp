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
