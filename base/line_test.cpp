// The line's states over a fake transport and a fake wait: what the target
// sends and what is sent to it, a line that goes away and comes back (-w),
// the output queue, the transport's own answers and wire encoding.
#include "base/line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "base/keys.h"
#include "base/stop.h"
#include "base/wait.h"
#include "link/link.h"

namespace tolvane {

namespace {

using Bytes = std::vector<unsigned char>;

// A line in memory. Each read takes the next chunk; a chunk that is empty
// is a read that finds nothing, and the end of the chunks is a line that
// went away.
struct fake_transport : line_transport {
    std::deque<Bytes> chunks;
    Bytes written;
    Bytes answers;            // the transport's own bytes (telnet's)
    size_t room = 1 << 20;    // bytes the line takes until it is given more
    size_t per_write = 1 << 20;  // the most one write takes
    bool doubles_ff = false;  // telnet's escape
    bool fail_writes = false;
    bool closed = false;

    long read(unsigned char* buffer, size_t size) override {
        if (chunks.empty()) return lost("line closed");
        Bytes chunk = chunks.front();
        chunks.pop_front();
        const size_t n = std::min(size, chunk.size());
        std::copy(chunk.begin(), chunk.begin() + static_cast<long>(n), buffer);
        return static_cast<long>(n);
    }
    long write(const unsigned char* bytes, size_t count) override {
        if (fail_writes) return lost("Connection reset by peer");
        const size_t n = std::min({count, room, per_write});
        room -= n;
        written.insert(written.end(), bytes, bytes + n);
        return static_cast<long>(n);
    }
    int doubled_byte() const override { return doubles_ff ? 0xFF : NO_DOUBLED_BYTE; }
    size_t take_output(unsigned char* dest, size_t room) override {
        const size_t n = std::min(room, answers.size());
        std::copy(answers.begin(), answers.begin() + static_cast<long>(n), dest);
        answers.erase(answers.begin(), answers.begin() + static_cast<long>(n));
        return n;
    }
    // The test frees them.
    bool close(bool, int) override {
        closed = true;
        return false;
    }
    bool let_go() override { return close(false, 0); }
    long speed() const override { return 115200; }
    // A telnet line's way: each request is queued as the transport's own
    // bytes ("B1", "R0"), so they show in order among the data written.
    bool has_modem_lines = true;
    bool set_break(bool on) override { return queue_request('B', on); }
    bool set_modem_line(modem_line line, bool on) override {
        return queue_request(line == modem_line::dtr ? 'D' : 'R', on);
    }
    bool queue_request(char what, bool on) {
        if (!has_modem_lines) return false;
        answers.push_back(static_cast<unsigned char>(what));
        answers.push_back(on ? '1' : '0');
        return true;
    }

    long lost(const char* reason) {
        why = reason;
        went_away = true;
        return LINE_FAILED;
    }
};

// What the next open gives, and the transports opened so far.
std::deque<fake_transport*> to_open;
std::vector<fake_transport*> opened;
// Keys "typed" in the next wait.
std::string typed;

fake_transport* open_next() {
    if (to_open.empty()) return nullptr;
    fake_transport* t = to_open.front();
    to_open.pop_front();
    opened.push_back(t);
    return t;
}

struct Line : testing::Test {
    line_state line;
    key_queue keys;
    void SetUp() override {
        keys_reset(keys);
        line.watch.keys = &keys;
        to_open.clear();
        opened.clear();
        typed.clear();
    }
    void TearDown() override {
        for (fake_transport* t : opened) delete t;
    }
    void open(fake_transport* t, bool wait_when_gone, line_settings settings = {}) {
        to_open.push_back(t);
        settings.device = "/dev/fake";
        ASSERT_TRUE(line_open(line, settings));
        line_wait_when_gone(line, wait_when_gone);
    }
    // The next n bytes received, read by read as the terminal takes them.
    std::string received(size_t n) {
        std::string got;
        while (got.size() < n && !line_gone(line)) {
            line_fill(line);
            const unsigned char* bytes = nullptr;
            const size_t take = std::min(n - got.size(), line_in_hand(line, &bytes));
            got.append(reinterpret_cast<const char*>(bytes), take);
            line_take(line, take);
        }
        return got;
    }
};

}  // namespace

line_transport* device_transport_open(const line_settings&, bool, open_outcome* outcome) {
    outcome->result = open_result::absent;
    return open_next();
}
line_transport* network_transport_open(const line_settings&, bool, bool, const wait_watch&) { return open_next(); }

bool wait_once(line_state& line, unsigned, deadline) {
    keys_add(*line.watch.keys, reinterpret_cast<const unsigned char*>(typed.data()), typed.size());
    typed.clear();
    return true;
}
bool wait_line_only(line_state&, unsigned, deadline) { return true; }
void keyboard_take() {}
void keyboard_release() {}

TEST_F(Line, BytesComeInReadsAndGoOutWithTheTransportsAnswersFirst) {
    fake_transport* t = new fake_transport;
    t->chunks = {{}, {'a', 'b'}, {'c'}};
    t->answers = {0xFF, 0xFB, 0x00};
    open(t, false);
    EXPECT_EQ(received(3), "abc") << "a read that finds nothing waits and reads again";
    EXPECT_EQ(line_reads(line), 2u);
    line_put_raw(line, 'k');
    line_send(line);
    EXPECT_EQ(t->written, (Bytes{0xFF, 0xFB, 0x00, 'k'}));
}

// What is in hand is taken in parts, in the order it was received; the
// next read comes only once it is all taken.
TEST_F(Line, TextInHandIsTakenInRunsInOrder) {
    fake_transport* t = new fake_transport;
    t->chunks = {{'a', 'b', 'c', 'd'}, {'e', 'f'}};
    open(t, false);
    EXPECT_EQ(received(1), "a");
    const unsigned char* run = nullptr;
    ASSERT_EQ(line_in_hand(line, &run), 3u) << "the rest of the first read";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(run), 2), "bc");
    line_take(line, 2);
    EXPECT_EQ(received(2), "de") << "the last byte in hand, then the next read";
    EXPECT_EQ(line_in_hand(line, &run), 1u);
    t->chunks = {{'g'}};
    line_fill(line);
    EXPECT_EQ(line_in_hand(line, &run), 1u) << "no read while bytes are in hand";
    line_take(line, 5);
    EXPECT_EQ(line_in_hand(line, &run), 0u) << "no more taken than is in hand";
    EXPECT_EQ(received(1), "g");
}

TEST_F(Line, OutputThatTheLineTakesInPartsLeavesWholeAndInOrder) {
    fake_transport* t = new fake_transport;
    t->room = 3;
    t->doubles_ff = true;
    open(t, false);
    EXPECT_EQ(line_room(line), 16384u / 2) << "a byte may go doubled";
    for (int b : {int{'x'}, 0xFF, int{'y'}, 0x10}) line_put_raw(line, b);
    line_send(line);
    EXPECT_EQ(line_pending(line), 2u);
    t->room = 10;
    line_send(line);
    EXPECT_EQ(t->written, (Bytes{'x', 0xFF, 0xFF, 'y', 0x10}));
    EXPECT_EQ(line_pending(line), 0u);
}

// What link_put sends for data, 0xFF twice where the line doubles it.
Bytes wire_of(const Bytes& data, bool doubles_ff) {
    Bytes wire;
    for (unsigned char b : data) {
        if (b == BYTE_STX || b == BYTE_ETX || b == BYTE_DLE || (doubles_ff && b == 0xFF)) wire.push_back(b == 0xFF ? b : BYTE_DLE);
        wire.push_back(b);
    }
    return wire;
}

// A read reply's data goes out in blocks through a queue the line empties
// a piece at a time: the wire is link_put's, whatever the line's pieces.
TEST_F(Line, DataBlocksGoOutAsTheLinkSendsThemByteForByte) {
    struct Case {
        const char* name;
        bool doubles_ff;
        size_t per_write;
        size_t bytes;
    } cases[] = {
        {"a short reply", false, 1 << 20, 300},
        {"more than the queue, taken in small writes", false, 1000, 40000},
        {"0xFF doubled on a telnet line, over several queues", true, 4096, 70000},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        fake_transport* t = new fake_transport;
        t->doubles_ff = c.doubles_ff;
        t->per_write = c.per_write;
        open(t, false);
        Bytes data(c.bytes);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 256);
        line_put_data(line, data.data(), data.size());
        while (line_pending(line) > 0) line_send(line);
        EXPECT_TRUE(t->written == wire_of(data, c.doubles_ff)) << c.name;
        line_close(line);
    }
}

// A reply is queued whole, whatever the line takes now; keys and texts
// then find no room until the line has taken it down below the limit.
TEST_F(Line, AReplyIsQueuedWholeAndKeysWaitBehindIt) {
    fake_transport* t = new fake_transport;
    t->room = 100;
    open(t, false);
    const Bytes data(20000, 'x');
    line_put_data(line, data.data(), data.size());
    line_send(line);
    EXPECT_EQ(line_pending(line), 20000u - 100);
    EXPECT_EQ(line_room(line), 0u) << "no room for keys";
    t->room = 20000 - 100 - 16000;
    line_send(line);
    EXPECT_EQ(line_room(line), 16384u - 16000);
    t->room = 1 << 20;
    line_close(line);
    EXPECT_EQ(t->written, Bytes(20000, 'x'));
}

// -w: a line lost in a read or in a write is let go and said so; nothing
// is queued for it until it is back.
TEST_F(Line, ALineLostIsWaitedForAndComesBack) {
    struct Case {
        const char* name;
        bool in_write;
        std::string said;
    } cases[] = {
        {"read", false, "read: /dev/fake: line closed\nwaiting for /dev/fake (Ctrl-Q ends)\n"},
        {"write", true, "write: /dev/fake: Connection reset by peer\nwaiting for /dev/fake (Ctrl-Q ends)\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        fake_transport* t = new fake_transport;
        t->chunks = {{'a'}};
        t->fail_writes = c.in_write;
        open(t, true);
        EXPECT_EQ(received(1), "a") << c.name;
        testing::internal::CaptureStdout();
        line_put_raw(line, 'k');
        if (c.in_write) line_send(line);
        line_fill(line);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.said) << c.name;
        EXPECT_TRUE(line_gone(line)) << c.name;
        EXPECT_TRUE(t->closed) << c.name;
        line_put_raw(line, 'x');  // dropped
        EXPECT_EQ(line_pending(line), 0u) << c.name;

        fake_transport* back = new fake_transport;
        back->chunks = {{'b'}};
        to_open.push_back(back);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(line_reopen(line)) << c.name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "/dev/fake back\n") << c.name;
        EXPECT_FALSE(line_gone(line)) << c.name;
        EXPECT_EQ(received(1), "b") << c.name;
        line_close(line);
        EXPECT_TRUE(back->closed) << c.name;
    }
}

// The command keys' line operations: the output queued before one leaves
// first, then the requests in order; a line without them says so, and
// the levels set are the ones a reopen asks for again.
TEST_F(Line, CommandOperationsFollowTheQueuedOutput) {
    struct Case {
        const char* name;
        bool has_modem_lines;
        bool (*operation)(line_state&);
        bool done;
        std::string written;
    } cases[] = {
        {"a break", true, [](line_state& l) { return line_send_break(l, 5); }, true, "kB1B0"},
        {"the pulse on RTS, held on", true, [](line_state& l) { return line_pulse(l); }, true, "kR1R1"},
        {"DTR off", true, [](line_state& l) { return line_set_modem_line(l, modem_line::dtr, false); }, true, "kD0"},
        {"no break here", false, [](line_state& l) { return line_send_break(l, 5); }, false, "k"},
        {"no modem lines here", false, [](line_state& l) { return line_set_modem_line(l, modem_line::rts, true); }, false, "k"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        fake_transport* t = new fake_transport;
        t->has_modem_lines = c.has_modem_lines;
        line_settings settings;
        settings.pulse_line = modem_line::rts;
        settings.pulse_ms = 5;
        settings.rts = line_level::on;
        open(t, false, settings);
        t->answers.clear();  // the modem lines set at the open
        line_put_raw(line, 'k');
        EXPECT_EQ(c.operation(line), c.done) << c.name;
        line_send(line);
        EXPECT_EQ(std::string(t->written.begin(), t->written.end()), c.written) << c.name;
        const modem_state state = line_modem_state(line);
        EXPECT_EQ(state.known, unsigned{MODEM_RTS} | (c.name[0] == 'D' ? unsigned{MODEM_DTR} : 0u)) << c.name;
        EXPECT_EQ(state.on, unsigned{MODEM_RTS}) << c.name;
        EXPECT_EQ(line_settings_now(line).dtr, c.name[0] == 'D' ? line_level::off : line_level::keep) << c.name;
        line_close(line);
    }
}

// Without -w a lost line ends the program, its message on a cooked console.
TEST_F(Line, ALineLostWithoutWaitingEndsTheProgram) {
    EXPECT_EXIT(
        {
            fake_transport* t = new fake_transport;
            open(t, false);
            line_fill(line);
        },
        testing::ExitedWithCode(255), "");
}

// The ways out restore the lines that are open, and never one that went
// without being closed.
TEST_F(Line, TheWaysOutRestoreOnlyTheLinesThere) {
    fake_transport* gone = new fake_transport;
    fake_transport* here = new fake_transport;
    {
        line_state dropped;
        to_open.push_back(gone);
        ASSERT_TRUE(line_open(dropped, line_settings{}));
    }
    open(here, false);
    stop_restore();
    EXPECT_FALSE(gone->closed);
    EXPECT_TRUE(here->closed);
}

}  // namespace tolvane
