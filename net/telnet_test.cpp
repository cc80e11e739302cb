#include "net/telnet.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tolvane;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t IAC = telnet::IAC, SB = telnet::SB, SE = telnet::SE;
constexpr uint8_t WILL = telnet::WILL, WONT = telnet::WONT, DO = telnet::DO, DONT = telnet::DONT;
constexpr uint8_t CPO = telnet::COM_PORT;

Bytes decode(TelnetCodec& c, Bytes in) {
    in.resize(telnet_decode(c, in.data(), in.size()));
    return in;
}

Bytes taken(TelnetCodec& c) {
    Bytes out(c.out_length);
    out.resize(telnet_take(c, out.data(), out.size()));
    return out;
}

Bytes command(const ComPortSetting& s) {
    Bytes out(COMMAND_MAX);
    out.resize(com_port_command(s, out.data()));
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

line_settings line_at(uint32_t baud) {
    line_settings line;
    line.baud = baud;
    return line;
}

// A connection for the line at 921600 Baud, its offers already taken.
TelnetCodec started(uint32_t baud = 921600) {
    TelnetCodec c;
    const auto settings = com_port_line_settings(line_at(baud));
    telnet_start(c, settings.data(), settings.size());
    taken(c);
    return c;
}

Bytes all_settings(uint32_t baud) {
    Bytes all;
    for (const ComPortSetting& s : com_port_line_settings(line_at(baud))) all = cat({all, command(s)});
    return all;
}

// What ser2net 4.3 sends on a telnet(rfc2217) port as a client connects.
const Bytes SER2NET_HELLO = {IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 1, IAC, DONT, 1,
                             IAC, DO, 0, IAC, WILL, 0, IAC, DO, CPO};

// Its answers to the settings for 921600 Baud.
const Bytes SER2NET_ANSWERS = {IAC, SB, CPO, 101, 0x00, 0x0E, 0x10, 0x00, IAC, SE, IAC, SB, CPO, 102, 8, IAC, SE,
                               IAC, SB, CPO, 103, 1, IAC, SE, IAC, SB, CPO, 104, 1, IAC, SE,
                               IAC, SB, CPO, 105, 1, IAC, SE};

}  // namespace

TEST(Telnet, OffersTheComPortOptionBinaryAndNoGoAhead) {
    TelnetCodec c;
    const auto settings = com_port_line_settings(line_at(115200));
    telnet_start(c, settings.data(), settings.size());
    EXPECT_EQ(taken(c), (Bytes{IAC, WILL, CPO, IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
    TelnetCodec raw;
    telnet_start(raw, nullptr, 0);
    EXPECT_EQ(taken(raw), (Bytes{IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
}

TEST(Telnet, Ser2netOpeningEndsAgreedWithOnlyEchoRefused) {
    TelnetCodec c = started();
    std::string why;
    EXPECT_EQ(com_port_check(c, &why), com_port_state::waiting);
    EXPECT_TRUE(decode(c, SER2NET_HELLO).empty());
    // The settings go once the server took the option, not before.
    EXPECT_EQ(taken(c), cat({{IAC, DONT, 1}, all_settings(921600)}));
    EXPECT_EQ(com_port_check(c, &why), com_port_state::waiting);
    // ser2net asks again for what it has: no answer, no loop.
    EXPECT_TRUE(decode(c, {IAC, DO, 3, IAC, SB, CPO, 107, 0, IAC, SE}).empty());
    EXPECT_TRUE(taken(c).empty());
    EXPECT_EQ(decode(c, cat({{'o', 'k'}, SER2NET_ANSWERS, {IAC, IAC}})), (Bytes{'o', 'k', 0xFF}));
    EXPECT_EQ(com_port_check(c, &why), com_port_state::agreed) << why;
}

TEST(Telnet, RequestsAreAnsweredOnlyWhenTheyChangeSomething) {
    struct Case {
        Bytes from_server;
        Bytes answer;
    };
    const Case cases[] = {
        {{IAC, WILL, 1}, {IAC, DONT, 1}},                   // echo: refused
        {{IAC, DO, 1}, {IAC, WONT, 1}},
        {{IAC, DO, 24}, {IAC, WONT, 24}},                   // terminal type: refused
        {{IAC, WILL, CPO}, {IAC, DONT, CPO}},               // the option is the client's
        {{IAC, WILL, 0}, {}},                               // binary: what we asked for
        {{IAC, WILL, 0, IAC, WILL, 0}, {}},
        {{IAC, DO, 3, IAC, DONT, 3}, {IAC, WONT, 3}},        // taken, then taken back
        {{IAC, WILL, 3, IAC, WONT, 3, IAC, WILL, 3}, {IAC, DONT, 3, IAC, DO, 3}},
        {{IAC, WONT, 1}, {}},                               // already off
        {{IAC, DONT, 24}, {}},
    };
    for (const Case& k : cases) {
        TelnetCodec c = started();
        EXPECT_TRUE(decode(c, k.from_server).empty());
        EXPECT_EQ(taken(c), k.answer) << "case " << (&k - cases);
    }
}

TEST(Telnet, DataSurvivesEverySplitOfTheStream) {
    const Bytes stream = cat({{'a', IAC, IAC, 'b'}, SER2NET_HELLO, {0x00, IAC, 241 /* NOP */, 0x0D},
                              {IAC, SB, CPO, 101, 0x00, IAC, IAC, 0xFF, 0xFF, IAC, SE},  // 0xFF in a value
                              {IAC, IAC, IAC, IAC}, SER2NET_ANSWERS, {'z'}});
    const Bytes data = {'a', 0xFF, 'b', 0x00, 0x0D, 0xFF, 0xFF, 'z'};
    TelnetCodec whole = started();
    EXPECT_EQ(decode(whole, stream), data);
    const Bytes answers = taken(whole);
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        TelnetCodec c = started();
        const Bytes head = decode(c, Bytes(stream.begin(), stream.begin() + cut));
        const Bytes tail = decode(c, Bytes(stream.begin() + cut, stream.end()));
        EXPECT_EQ(cat({head, tail}), data) << "cut at " << cut;
        EXPECT_EQ(taken(c), answers) << "cut at " << cut;
    }
    std::string why;
    EXPECT_EQ(com_port_check(whole, &why), com_port_state::agreed) << why;
}

TEST(Telnet, BrokenSubnegotiationsAreDroppedAndTheDataGoesOn) {
    TelnetCodec c = started();
    decode(c, SER2NET_HELLO);
    taken(c);
    // Too long to be an answer; a command inside one ends it unread.
    Bytes long_one = {IAC, SB, CPO, 101, 0, 0x0E, 0x10, 0};
    long_one.resize(long_one.size() + TelnetCodec::SB_MAX, 'x');
    EXPECT_EQ(decode(c, cat({long_one, {IAC, SE, 'a'}})), Bytes{'a'});
    EXPECT_EQ(decode(c, {IAC, SB, CPO, 101, 0, 0x0E, IAC, WILL, 1, 'b'}), Bytes{'b'});
    EXPECT_EQ(taken(c), (Bytes{IAC, DONT, 1}));
    EXPECT_FALSE(c.answered & (1u << rfc2217::SET_BAUDRATE));
    // A short value is no answer either.
    decode(c, {IAC, SB, CPO, 101, 0, 0x0E, IAC, SE});
    EXPECT_FALSE(c.answered & (1u << rfc2217::SET_BAUDRATE));
}

TEST(Telnet, AServerThatAsksForOurSignatureGetsIt) {
    TelnetCodec c = started();
    decode(c, {IAC, SB, CPO, 100, IAC, SE, IAC, SB, CPO, 100, 's', 'e', 'r', IAC, SE});
    EXPECT_EQ(taken(c), (Bytes{IAC, SB, CPO, 0, 't', 'o', 'l', 'v', 'a', 'n', 'e', IAC, SE}));
}

TEST(Telnet, AFloodOfRequestsNeverCutsAnAnswer) {
    TelnetCodec c = started();
    Bytes flood;
    for (int i = 0; i < 1000; ++i) flood = cat({flood, {IAC, DO, 1}});
    decode(c, flood);
    const Bytes out = taken(c);
    EXPECT_LE(out.size(), TelnetCodec::OUT_MAX);
    ASSERT_EQ(out.size() % 3, 0u);
    for (size_t i = 0; i < out.size(); i += 3) EXPECT_EQ(Bytes(out.begin() + i, out.begin() + i + 3), (Bytes{IAC, WONT, 1}));
}

TEST(Rfc2217, CommandsOnTheWire) {
    struct Case {
        ComPortSetting setting;
        Bytes wire;
    };
    const Case cases[] = {
        {{rfc2217::SET_BAUDRATE, 921600}, {IAC, SB, CPO, 1, 0x00, 0x0E, 0x10, 0x00, IAC, SE}},
        {{rfc2217::SET_BAUDRATE, 0x01FFFF}, {IAC, SB, CPO, 1, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, IAC, SE}},
        {{rfc2217::SET_DATASIZE, 8}, {IAC, SB, CPO, 2, 8, IAC, SE}},
        {{rfc2217::SET_PARITY, 1}, {IAC, SB, CPO, 3, 1, IAC, SE}},
        {{rfc2217::SET_STOPSIZE, 1}, {IAC, SB, CPO, 4, 1, IAC, SE}},
        {{rfc2217::SET_CONTROL, 1}, {IAC, SB, CPO, 5, 1, IAC, SE}},
        {com_port_modem_line(modem_line::dtr, true), {IAC, SB, CPO, 5, 8, IAC, SE}},
        {com_port_modem_line(modem_line::dtr, false), {IAC, SB, CPO, 5, 9, IAC, SE}},
        {com_port_modem_line(modem_line::rts, true), {IAC, SB, CPO, 5, 11, IAC, SE}},
        {com_port_modem_line(modem_line::rts, false), {IAC, SB, CPO, 5, 12, IAC, SE}},
    };
    for (const Case& k : cases) EXPECT_EQ(command(k.setting), k.wire) << "case " << (&k - cases);
    uint8_t wire[2];
    EXPECT_EQ(telnet_escape(0xFF, wire), 2u);
    EXPECT_EQ(wire[1], 0xFF);
    EXPECT_EQ(telnet_escape(0xFE, wire), 1u);
}

TEST(Rfc2217, ModemLinesGoOnlyOnceTheServerTookTheOption) {
    const ComPortSetting dtr_off = com_port_modem_line(modem_line::dtr, false);
    TelnetCodec c = started();
    EXPECT_FALSE(telnet_queue_setting(c, dtr_off));
    decode(c, SER2NET_HELLO);
    taken(c);
    EXPECT_TRUE(telnet_queue_setting(c, dtr_off));
    EXPECT_EQ(taken(c), command(dtr_off));
    TelnetCodec raw;
    telnet_start(raw, nullptr, 0);
    decode(raw, SER2NET_HELLO);
    EXPECT_FALSE(telnet_queue_setting(raw, dtr_off)) << "a line without the option";
}

TEST(Rfc2217, RefusalsSayWhatTheServerHas) {
    struct Case {
        Bytes answer;  // replaces the one for the same command
        const char* why;
    };
    const Case cases[] = {
        {{IAC, SB, CPO, 101, 0x00, 0x01, 0xC2, 0x00, IAC, SE}, "server refused 921600 Baud (has 115200 Baud)"},
        {{IAC, SB, CPO, 102, 7, IAC, SE}, "server refused 8 data bits (has 7 data bits)"},
        {{IAC, SB, CPO, 103, 2, IAC, SE}, "server refused no parity (has odd parity)"},
        {{IAC, SB, CPO, 104, 2, IAC, SE}, "server refused 1 stop bit (has 2 stop bits)"},
        {{IAC, SB, CPO, 105, 3, IAC, SE}, "server refused no flow control (has hardware flow control)"},
    };
    for (const Case& k : cases) {
        TelnetCodec c = started();
        decode(c, cat({SER2NET_HELLO, SER2NET_ANSWERS, k.answer}));
        std::string why;
        EXPECT_EQ(com_port_check(c, &why), com_port_state::refused);
        EXPECT_EQ(why, k.why);
    }
    TelnetCodec no_option = started();
    decode(no_option, {IAC, DONT, CPO});
    std::string why;
    EXPECT_EQ(com_port_check(no_option, &why), com_port_state::refused);
    EXPECT_EQ(why, "server refused the COM-PORT-OPTION (RFC 2217)");
}
