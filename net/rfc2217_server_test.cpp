#include "net/rfc2217_server.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tolvane;

namespace {

using Bytes = std::vector<uint8_t>;
using kind = line_action::kind;

constexpr uint8_t IAC = telnet::IAC, SB = telnet::SB, SE = telnet::SE;
constexpr uint8_t WILL = telnet::WILL, WONT = telnet::WONT, DO = telnet::DO, DONT = telnet::DONT;
constexpr uint8_t CPO = telnet::COM_PORT;
constexpr long REFUSED_BAUD = 12345;

// The served line: what was asked of it, in order; a rate it will not make.
struct FakeLine {
    line_settings settings;
    modem_state modem;
    std::vector<std::pair<kind, long>> done;
};

bool fake_apply(void* context, const line_action& a) {
    FakeLine& line = *static_cast<FakeLine*>(context);
    line.done.emplace_back(a.what, a.value);
    if (a.what == kind::speed && a.value == REFUSED_BAUD) return false;
    if (a.what == kind::speed) line.settings.baud = a.value;
    if (a.what == kind::data_bits) line.settings.data_bits = static_cast<int>(a.value);
    if (a.what == kind::parity) line.settings.parity = static_cast<parity_kind>(a.value);
    if (a.what == kind::stop_bits) line.settings.stop_bits = static_cast<int>(a.value);
    if (a.what == kind::flow) line.settings.flow = static_cast<flow_kind>(a.value);
    return true;
}

// A COM-PORT-OPTION command either way, 0xFF in its value doubled.
Bytes request(uint8_t command, const Bytes& value) {
    Bytes b = {IAC, SB, CPO, command};
    for (uint8_t v : value) b.insert(b.end(), v == IAC ? 2 : 1, v);
    b.insert(b.end(), {IAC, SE});
    return b;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What pyserial 3.5 sends as it opens rfc2217://.
const Bytes PYSERIAL_HELLO = {IAC, WILL, CPO, IAC, WILL, 3, IAC, DO, 3, IAC, DO, CPO};

struct Harness {
    FakeLine line;
    Rfc2217Server server;

    Harness() {
        Rfc2217Port port;
        port.context = &line;
        port.apply = fake_apply;
        port.settings = [](void* c) -> const line_settings& { return static_cast<FakeLine*>(c)->settings; };
        port.modem = [](void* c) { return static_cast<FakeLine*>(c)->modem; };
        rfc2217_serve_start(server, port);
    }
    Bytes feed(Bytes in) {
        in.resize(rfc2217_serve_decode(server, in.data(), in.size()));
        return in;
    }
    // Past the opening and the client's first command (a modem poll).
    Harness& opened() {
        feed(cat(PYSERIAL_HELLO, request(7, {})));
        answers();
        return *this;
    }
    Bytes answers() {
        Bytes out(TelnetCodec::OUT_MAX);
        out.resize(rfc2217_serve_take(server, out.data(), out.size()));
        return out;
    }
};

}  // namespace

TEST(Rfc2217Server, NegotiatesBinaryNoGoAheadAndTheComPortOption) {
    Harness h;
    EXPECT_EQ(h.answers(), (Bytes{IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
    EXPECT_TRUE(h.feed(PYSERIAL_HELLO).empty());
    EXPECT_EQ(h.answers(), (Bytes{IAC, DO, CPO, IAC, WILL, CPO}));
    // The client's first command gets the modem lines before its answer.
    h.line.modem = {MODEM_CTS | MODEM_DSR, MODEM_CTS};
    h.feed(request(12, {3}));
    EXPECT_EQ(h.answers(), cat(request(107, {0x10}), request(112, {3})));
    EXPECT_TRUE(h.feed({IAC, DO, 0, IAC, WILL, 0, IAC, DO, 1, IAC, WILL, 24}).empty());
    EXPECT_EQ(h.answers(), (Bytes{IAC, WONT, 1, IAC, DONT, 24}));
}

TEST(Rfc2217Server, EachRequestIsAppliedAndAnsweredAtOnce) {
    struct Case {
        uint8_t command;
        Bytes value;
        std::vector<std::pair<kind, long>> done;
        Bytes answer;  // its value; empty: none
    };
    const Case cases[] = {
        {1, {0, 0, 0x25, 0x80}, {{kind::speed, 9600}}, {0, 0, 0x25, 0x80}},
        {1, {0, 0, 0, 0}, {}, {0, 1, 0xC2, 0}},  // asks what is in force
        {1, {0, 0, 0x30, 0x39}, {{kind::speed, REFUSED_BAUD}}, {0, 1, 0xC2, 0}},
        {1, {0, 1, 0xFF, 0xFF}, {{kind::speed, 0x1FFFF}}, {0, 1, 0xFF, 0xFF}},
        {1, {0, 0}, {}, {}},  // cut short
        {2, {7}, {{kind::data_bits, 7}}, {7}},
        {2, {9}, {}, {8}},
        {3, {3}, {{kind::parity, static_cast<long>(parity_kind::even)}}, {3}},
        {3, {6}, {}, {1}},
        {4, {2}, {{kind::stop_bits, 2}}, {2}},
        {4, {3}, {}, {1}},  // 1.5 stop bits
        {5, {0}, {}, {1}},
        {5, {3}, {{kind::flow, static_cast<long>(flow_kind::hard)}}, {3}},
        {5, {2}, {{kind::flow, static_cast<long>(flow_kind::soft)}}, {2}},
        {5, {5}, {{kind::brk, 1}}, {5}},
        {5, {4}, {}, {6}},
        {5, {9}, {{kind::dtr, 0}}, {9}},
        {5, {7}, {}, {8}},
        {5, {12}, {{kind::rts, 0}}, {12}},
        {5, {13}, {}, {14}},
        {5, {16}, {{kind::flow, static_cast<long>(flow_kind::hard)}}, {16}},
        {5, {18}, {}, {14}},  // DTR flow control: not here
        {6, {}, {}, {0}},  // a poll
        {10, {0x10}, {}, {0x10}},
        {11, {0x30}, {}, {0x30}},
        {12, {1}, {{kind::purge, PURGE_INPUT}}, {1}},
        {12, {2}, {{kind::purge, PURGE_OUTPUT}}, {2}},
        {12, {3}, {{kind::purge, PURGE_INPUT | PURGE_OUTPUT}}, {3}},
        {12, {4}, {}, {}},
        {0, {'p', 'y'}, {}, {}},  // the client's signature
        {0, {}, {}, {'t', 'o', 'l', 'v', 'a', 'n', 'e'}},
        {8, {}, {}, {}},
    };
    for (const Case& k : cases) {
        Harness h;
        h.opened();
        EXPECT_EQ(h.feed(cat(request(k.command, k.value), {'x'})), Bytes{'x'});
        EXPECT_EQ(h.line.done, k.done) << "case " << (&k - cases);
        EXPECT_EQ(h.answers(), k.answer.empty() ? Bytes{} : request(100 + k.command, k.answer))
            << "case " << (&k - cases);
    }
}

TEST(Rfc2217Server, ModemStateIsToldOnChangeWithinTheMask) {
    Harness h;
    h.line.modem = {MODEM_CTS | MODEM_DSR | MODEM_CD, MODEM_CTS};
    h.feed(PYSERIAL_HELLO);
    rfc2217_serve_modem(h.server);
    EXPECT_EQ(h.answers(), (Bytes{IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3, IAC, DO, CPO, IAC, WILL, CPO}))
        << "a client that sent no command is told nothing";
    h.feed(request(7, {}));
    EXPECT_EQ(h.answers(), request(107, {0x10}));
    rfc2217_serve_modem(h.server);
    EXPECT_TRUE(h.answers().empty()) << "nothing changed";
    h.line.modem.on = MODEM_DSR;
    rfc2217_serve_modem(h.server);
    EXPECT_EQ(h.answers(), request(107, {0x20 | 0x02 | 0x01}));
    h.feed(request(11, {0x80}));  // only CD
    EXPECT_EQ(h.answers(), request(111, {0x80}));
    h.line.modem.on = 0;
    rfc2217_serve_modem(h.server);
    EXPECT_TRUE(h.answers().empty());
    h.feed(request(7, {}));  // a poll is always answered
    EXPECT_EQ(h.answers(), request(107, {0}));
    // DTR set is answered as asked; asked after, as the driver has it.
    h.line.modem = {MODEM_DTR, 0};
    h.feed(cat(request(5, {8}), request(5, {7})));
    EXPECT_EQ(h.answers(), cat(request(105, {8}), request(105, {9})));
    h.feed(request(8, {}));
    EXPECT_TRUE(h.server.suspended);
    h.feed(request(9, {}));
    EXPECT_FALSE(h.server.suspended);
}

TEST(Rfc2217Server, DataKeepsItsBytesEitherWay) {
    Harness h;
    EXPECT_EQ(h.feed({'a', IAC, IAC, 'b', IAC, 241 /* NOP */, 0x0D, 0x00}), (Bytes{'a', 0xFF, 'b', 0x0D, 0x00}));
    const Bytes board = {'a', 0xFF, 0xFF, 'b'};
    uint8_t out[8];
    size_t written = 0;
    EXPECT_EQ(rfc2217_encode(board.data(), board.size(), out, sizeof out, &written), 4u);
    EXPECT_EQ(Bytes(out, out + written), (Bytes{'a', IAC, IAC, IAC, IAC, 'b'}));
    // A doubled byte goes whole or waits.
    EXPECT_EQ(rfc2217_encode(board.data(), board.size(), out, 2, &written), 1u);
    EXPECT_EQ(written, 1u);
}

TEST(Rfc2217Server, ASplitStreamIsServedAsTheWholeOne) {
    const Bytes stream =
        cat(cat(PYSERIAL_HELLO, {'k', IAC, IAC}), cat(request(1, {0, 1, 0xFF, 0xFF}), request(12, {3})));
    Harness whole;
    const Bytes data = whole.feed(stream);
    const Bytes answers = whole.answers();
    ASSERT_EQ(whole.line.done.size(), 2u);
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        Harness h;
        Bytes got = h.feed(Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)));
        got = cat(got, h.feed(Bytes(stream.begin() + static_cast<long>(cut), stream.end())));
        EXPECT_EQ(got, data) << "cut at " << cut;
        EXPECT_EQ(h.answers(), answers) << "cut at " << cut;
        EXPECT_EQ(h.line.done, whole.line.done) << "cut at " << cut;
    }
}

TEST(Rfc2217Server, AnOverlongSubnegotiationIsDropped) {
    Harness h;
    h.opened();
    Bytes value = {0, 0, 0x25, 0x80};
    value.resize(TelnetCodec::SB_MAX + 10, 'x');
    EXPECT_EQ(h.feed(cat(request(1, value), {'a'})), Bytes{'a'});
    EXPECT_TRUE(h.line.done.empty());
    EXPECT_TRUE(h.answers().empty());
    // The next one is served.
    h.feed(request(12, {1}));
    EXPECT_EQ(h.answers(), request(112, {1}));
}
