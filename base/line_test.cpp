// The line's states over a fake transport and a fake wait: what the target
// sends and what is sent to it, a line that goes away and comes back (-w),
// a request cut off, the transport's own answers and wire encoding.
#include "base/line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "base/console_platform.h"
#include "base/keys.h"
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
        const size_t n = std::min(count, room);
        room -= n;
        written.insert(written.end(), bytes, bytes + n);
        return static_cast<long>(n);
    }
    size_t encode(int byte, unsigned char* wire) override {
        wire[0] = wire[1] = static_cast<unsigned char>(byte);
        return doubles_ff && byte == 0xFF ? 2 : 1;
    }
    size_t wire_bytes_max() const override { return doubles_ff ? 2 : 1; }
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
    void SetUp() override {
        keys_reset();
        to_open.clear();
        opened.clear();
        typed.clear();
    }
    void TearDown() override {
        for (fake_transport* t : opened) delete t;
    }
    void open(fake_transport* t, bool wait_when_gone) {
        to_open.push_back(t);
        line_settings settings;
        settings.device = "/dev/fake";
        ASSERT_TRUE(line_open(settings));
        line_wait_when_gone(wait_when_gone);
    }
    std::string received(size_t n) {
        std::string got;
        for (size_t i = 0; i < n; ++i) got += static_cast<char>(link_get_raw());
        return got;
    }
};

}  // namespace

line_transport* device_transport_open(const line_settings&, bool, open_outcome* outcome) {
    outcome->result = open_result::absent;
    return open_next();
}
line_transport* network_transport_open(const line_settings&, bool, bool) { return open_next(); }

bool wait_once(unsigned, deadline) {
    keys_add(reinterpret_cast<const unsigned char*>(typed.data()), typed.size());
    typed.clear();
    return true;
}
bool wait_line_only(unsigned, deadline) { return true; }
void wait_watch_keyboard(bool) {}
void keyboard_take() {}
void keyboard_release() {}
const bool console_text_crlf = false;
// The console's output goes to standard output, where the tests capture it.
long console_write_out(const unsigned char* bytes, size_t count) {
    return static_cast<long>(std::fwrite(bytes, 1, count, stdout));
}
size_t console_out_in_flight() { return 0; }
bool log_file_open(const char*, bool*) { return false; }
long log_file_write(const unsigned char*, size_t count) { return static_cast<long>(count); }
void log_file_close() {}
void console_wait_writable(bool, bool, deadline) {}

TEST_F(Line, BytesComeInReadsAndGoOutWithTheTransportsAnswersFirst) {
    fake_transport* t = new fake_transport;
    t->chunks = {{}, {'a', 'b'}, {'c'}};
    t->answers = {0xFF, 0xFB, 0x00};
    open(t, false);
    EXPECT_EQ(received(3), "abc") << "a read that finds nothing waits and reads again";
    EXPECT_EQ(line_reads(), 2u);
    link_put_raw('k');
    line_send();
    EXPECT_EQ(t->written, (Bytes{0xFF, 0xFB, 0x00, 'k'}));
}

TEST_F(Line, OutputThatTheLineTakesInPartsLeavesWholeAndInOrder) {
    fake_transport* t = new fake_transport;
    t->room = 3;
    t->doubles_ff = true;
    open(t, false);
    EXPECT_EQ(line_room(), 16384u / 2) << "a byte may go doubled";
    for (int b : {int{'x'}, 0xFF, int{'y'}, 0x10}) link_put_raw(b);
    line_send();
    EXPECT_EQ(line_pending(), 2u);
    t->room = 10;
    line_send();
    EXPECT_EQ(t->written, (Bytes{'x', 0xFF, 0xFF, 'y', 0x10}));
    EXPECT_EQ(line_pending(), 0u);
}

// -w: a line lost in a read or in a write is let go and said so; a request
// in progress reads ETX and sends nothing until the line is back.
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
        link_put_raw('k');
        if (c.in_write) line_send();
        EXPECT_EQ(link_get_raw(), BYTE_ETX) << c.name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.said) << c.name;
        EXPECT_TRUE(line_gone()) << c.name;
        EXPECT_TRUE(t->closed) << c.name;
        EXPECT_TRUE(line_request_cut()) << c.name;
        link_put_raw('x');  // dropped
        EXPECT_EQ(line_pending(), 0u) << c.name;

        fake_transport* back = new fake_transport;
        back->chunks = {{'b'}};
        to_open.push_back(back);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(line_reopen()) << c.name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "/dev/fake back\n") << c.name;
        EXPECT_FALSE(line_gone()) << c.name;
        EXPECT_EQ(received(1), "b") << c.name;
        line_close();
        EXPECT_TRUE(back->closed) << c.name;
    }
}

// Ctrl-Q typed while a request waits for the target: the request reads ETX
// at once and its replies are dropped, until the last output is let out.
TEST_F(Line, CtrlQCutsARequestOffUntilTheLastOutputIsLetOut) {
    fake_transport* t = new fake_transport;
    t->chunks = {{}, {}, {'z'}};
    open(t, false);
    typed = "ab\x11";
    EXPECT_EQ(link_get_raw(), BYTE_ETX);
    EXPECT_TRUE(line_request_cut());
    link_put_raw('r');
    EXPECT_EQ(line_pending(), 0u) << "a reply of the request cut off";
    EXPECT_EQ(keys_queued(), 2u) << "the keys before Ctrl-Q stay queued";
    line_take_last_output();
    EXPECT_FALSE(line_request_cut());
    link_put_raw('a');
    line_send();
    EXPECT_EQ(t->written, (Bytes{'a'}));
    line_close();
}

// Without -w a lost line ends the program, its message on a cooked console.
TEST_F(Line, ALineLostWithoutWaitingEndsTheProgram) {
    EXPECT_EXIT(
        {
            fake_transport* t = new fake_transport;
            open(t, false);
            link_get_raw();
        },
        testing::ExitedWithCode(255), "");
}

}  // namespace tolvane
