// The telnet side of a network line against a faulty or hostile server:
// whatever it sends, the data must come out the same however the stream
// was cut into reads (even reads against small uneven ones), the answers queued must be whole commands within
// the queue's bound, and nothing may read or write out of bounds.
//
// An input is a byte of switches (bit 0: an rfc2217 line with its
// settings, else binary and go-ahead only; bit 7: the server's side of a
// --share rfc2217: instead, its requests applied to a line that takes
// them, which must not depend on the cuts either; the other bits seed the
// cuts), then the other end's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/rfc2217_server.h"
#include "net/telnet.h"

using namespace tolvane;

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "telnet fuzzer: %s\n", what);
    std::abort();
}

// One end's codec; a server's line records what it was asked to do.
struct Side {
    Rfc2217Server server;
    line_settings line;
    Bytes done;  // each action's kind and value's low byte
    TelnetCodec& codec() { return server.telnet; }
};

bool take(void* context, const line_action& a) {
    Side& side = *static_cast<Side*>(context);
    side.done.push_back(static_cast<uint8_t>(a.what));
    side.done.push_back(static_cast<uint8_t>(a.value));
    if (a.what == line_action::kind::speed) side.line.baud = a.value;
    return true;
}

void start(Side& side, uint8_t switches) {
    side.line = line_settings{};
    side.line.baud = 921600;
    side.done.clear();
    if (switches & 0x80) {
        Rfc2217Port port;
        port.context = &side;
        port.apply = take;
        port.settings = [](void* c) -> const line_settings& { return static_cast<Side*>(c)->line; };
        port.modem = [](void*) { return modem_state{MODEM_CTS | MODEM_DSR, MODEM_CTS}; };
        rfc2217_serve_start(side.server, port);
        side.server.telnet.serve_context = &side.server;  // the side stays where it is
        return;
    }
    const auto settings = com_port_line_settings(side.line);
    telnet_start(side.codec(), settings.data(), (switches & 1) ? settings.size() : 0);
}

// The reads of the first run. Small enough that its answers always fit
// the queue (a byte from the server makes at most some 17 bytes of
// answer), as they do in the second run's smaller reads: a queue that
// overflowed in one run only would differ for that reason alone.
constexpr size_t EVEN_READ = 32;

// Decodes in reads of EVEN_READ bytes, or of the sizes cuts gives; the
// queue is taken after every read. Collects the data and what was sent.
void run(TelnetCodec& codec, const uint8_t* bytes, size_t count, uint32_t cuts, Bytes& data, Bytes& sent) {
    size_t at = 0;
    while (at < count) {
        size_t n = std::min(count - at, EVEN_READ);
        if (cuts != 0) {
            cuts = cuts * 1103515245u + 12345u;
            n = std::min(n, size_t{1} + (cuts >> 16) % 7);
        }
        Bytes chunk(bytes + at, bytes + at + n);
        const size_t kept = telnet_decode(codec, chunk.data(), chunk.size());
        if (kept > n) fault("more data than bytes");
        data.insert(data.end(), chunk.begin(), chunk.begin() + static_cast<long>(kept));
        if (codec.out_length > TelnetCodec::OUT_MAX) fault("queue past its bound");
        uint8_t out[TelnetCodec::OUT_MAX];
        const size_t taken = telnet_take(codec, out, sizeof out);
        sent.insert(sent.end(), out, out + taken);
        at += n;
    }
}

// The queue holds IAC verb option and IAC SB ... IAC SE, nothing cut.
void expect_whole_commands(const Bytes& sent) {
    size_t i = 0;
    while (i < sent.size()) {
        if (sent[i] != telnet::IAC || i + 2 >= sent.size()) fault("a cut or stray byte in the answers");
        const uint8_t verb = sent[i + 1];
        if (verb >= telnet::WILL && verb <= telnet::DONT) {
            i += 3;
            continue;
        }
        if (verb != telnet::SB) fault("an unknown command in the answers");
        size_t j = i + 2;
        while (j + 1 < sent.size() && !(sent[j] == telnet::IAC && sent[j + 1] == telnet::SE))
            j += sent[j] == telnet::IAC ? 2 : 1;
        if (j + 1 >= sent.size()) fault("a subnegotiation without its end");
        i = j + 2;
    }
}

// The answers taken into an output queue that is nearly full: each take
// gets only a few bytes of room, and what it takes must be whole commands
// that fit, never a command cut in two.
void run_tight(TelnetCodec& codec, const uint8_t* bytes, size_t count, uint32_t rooms) {
    for (size_t at = 0; at < count; at += EVEN_READ) {
        Bytes chunk(bytes + at, bytes + std::min(count, at + EVEN_READ));
        telnet_decode(codec, chunk.data(), chunk.size());
        rooms = rooms * 1103515245u + 12345u;
        const size_t room = (rooms >> 16) % 24;
        uint8_t out[24];
        const size_t taken = telnet_take(codec, out, room);
        if (taken > room) fault("took more than the room");
        expect_whole_commands(Bytes(out, out + taken));
    }
    uint8_t out[TelnetCodec::OUT_MAX];
    expect_whole_commands(Bytes(out, out + telnet_take(codec, out, sizeof out)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size == 0) return 0;
    const uint32_t cuts = input[0] | 0x100u;
    static Side whole, cut, tight;  // large: kept off the stack
    start(whole, input[0]);
    start(cut, input[0]);
    Bytes whole_data, whole_sent, cut_data, cut_sent;
    run(whole.codec(), input + 1, size - 1, 0, whole_data, whole_sent);
    run(cut.codec(), input + 1, size - 1, cuts, cut_data, cut_sent);
    if (whole_data != cut_data) fault("the data depends on how the stream was cut");
    if (whole_sent != cut_sent) fault("the answers depend on how the stream was cut");
    if (whole.done != cut.done) fault("the line's changes depend on how the stream was cut");
    expect_whole_commands(whole_sent);
    start(tight, input[0]);
    run_tight(tight.codec(), input + 1, size - 1, cuts);
    std::string why_whole, why_cut;
    if (com_port_check(whole.codec(), &why_whole) != com_port_check(cut.codec(), &why_cut) || why_whole != why_cut)
        fault("the line's state depends on how the stream was cut");
    return 0;
}
