// The file service's request parser, fed as a line may hand requests over:
// whole, a byte at a time, or split in two at every point. Each way gives
// the same replies and the same files; and the noise rules decide alike.
#include "fileservice/rpc.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/block_codec.h"
#include "base/line.h"
#include "fileservice/find.h"
#include "fileservice/handles.h"
#include "link/link.h"

namespace tolvane {

namespace {

std::string wire;  // what the host sent, as the line would carry it
file_service service;

using Request = std::string;  // what the target sends after its STX

// The target's side of the codec: data bytes escaped, fields as they go.
std::string data(const std::string& bytes) {
    std::string out;
    for (unsigned char b : bytes) {
        if (b == BYTE_STX || b == BYTE_ETX || b == BYTE_DLE) out += static_cast<char>(BYTE_DLE);
        out += static_cast<char>(b);
    }
    return out;
}
std::string u32(uint32_t v) {
    return data(std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                            static_cast<char>(v)});
}
std::string u16(uint32_t v) { return data(std::string{static_cast<char>(v >> 8), static_cast<char>(v)}); }
std::string text(const std::string& s) { return data(s) + "\x03"; }
std::string code(int c) { return data(std::string(1, static_cast<char>(c))); }

// One request fed in pieces, each ending at one of the cuts: its status
// and the bytes the parser left (none for a request that stops at its end).
struct Fed {
    rpc_status status = rpc_status::more;
    size_t left = 0;
};
Fed feed(const Request& request, const std::vector<size_t>& cuts) {
    rpc_begin(service);
    const auto* bytes = reinterpret_cast<const unsigned char*>(request.data());
    Fed fed;
    size_t at = 0;
    for (size_t i = 0; i <= cuts.size() && fed.status == rpc_status::more; ++i) {
        const size_t end = i < cuts.size() ? cuts[i] : request.size();
        const rpc_step step = rpc_feed(service, bytes + at, end - at);
        fed.status = step.status;
        at += step.used;
        if (step.status == rpc_status::more && at != end) ADD_FAILURE() << "a request stopped short of its piece";
    }
    while (rpc_replying(service)) rpc_reply_more(service);  // the test's queue is never full
    fed.left = request.size() - at;
    return fed;
}

std::vector<size_t> every_byte(size_t size) {
    std::vector<size_t> cuts;
    for (size_t i = 1; i < size; ++i) cuts.push_back(i);
    return cuts;
}

// The files' times held still, so that a find record is the same each run.
void hold_times(const std::string& dir) {
    const struct utimbuf fixed = {1700000000, 1700000000};
    utime((dir + "/moved.bin").c_str(), &fixed);
    utime((dir + "/out.bin").c_str(), &fixed);
}

std::string file(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct RequestParser : testing::Test {
    std::string dir;
    line_state line;  // stands for the session's: the fakes below keep what is queued
    void SetUp() override {
        char name[] = "/tmp/rpc-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        service_settings settings;
        settings.root = dir;
        ASSERT_TRUE(rpc_start(service, settings));
        service.line = &line;
        std::ofstream(dir + "/in.txt", std::ios::binary) << std::string("ab\x02\x10", 4) << "cd\nline two\n";
    }
    void TearDown() override {
        handle_close_all(service.handles);
        find_end();
        std::system(("rm -rf " + dir).c_str());
    }
};

}  // namespace

// The host's side of the line, for the parser: what it queues is kept.
void line_put_raw(line_state&, int byte) { wire += static_cast<char>(byte); }
void line_put_data(line_state&, const unsigned char* bytes, size_t count) {
    std::vector<unsigned char> out(2 * count + 1);
    size_t written = 0;
    block_escape(bytes, count, NO_DOUBLED_BYTE, out.data(), out.size(), &written);
    wire.append(reinterpret_cast<const char*>(out.data()), written);
}
size_t line_pending(const line_state&) { return wire.size(); }


// A session of requests on one file: each fed whole, a byte at a time and
// split at every point gives the same replies, and the same file.
TEST_F(RequestParser, EverySplitGivesTheSameRepliesAndFiles) {
    const std::vector<Request> session = {
        code(RPC_OPEN) + text("out.bin") + text("w+b"),
        code(RPC_WRITE) + u32(1) + data(std::string("x\x02\x03\x10y", 5)) + "\x03",
        code(RPC_PUTC) + u32(1) + u16('z'),
        code(RPC_PUTS) + u32(1) + text("tail\n"),
        code(RPC_TELL) + u32(1),
        code(RPC_SEEK) + u32(1) + u32(1) + u16(SEEK_SET),
        code(RPC_READ) + u32(3) + u32(1),
        code(RPC_GETC) + u32(1),
        code(RPC_UNGETC) + u16('Q') + u32(1),
        code(RPC_GETS) + u32(1) + u16(100),
        code(RPC_READ) + u32(100) + u32(1),
        code(RPC_CLOSE) + u32(1),
        code(RPC_RENAME) + text("out.bin") + text("moved.bin"),
        code(RPC_FIND_FIRST) + text("*.bin") + u16(0),
        code(RPC_FIND_NEXT),
    };
    // The replies of the session fed whole, each request's on its own.
    std::vector<std::string> replies;
    for (const Request& r : session) {
        wire.clear();
        hold_times(dir);
        const Fed fed = feed(r, {});
        EXPECT_EQ(fed.status, rpc_status::done);
        EXPECT_EQ(fed.left, 0u);
        replies.push_back(wire);
    }
    const std::string whole_file = file(dir + "/moved.bin");
    EXPECT_EQ(whole_file, std::string("x\x02\x03\x10yztail\n", 11));
    EXPECT_EQ(replies[0], "\x03" + u32(1)) << "ready, then the handle";
    EXPECT_EQ(replies[1], "\x03") << "a write answers only ready";
    EXPECT_EQ(replies[6], "\x03" + data(std::string("\x02\x03\x10", 3))) << "three bytes asked, three sent, no ETX";
    EXPECT_EQ(replies[9], "\x03" + u16(1) + data("Qztail\n") + "\x03") << "the byte pushed back, then the line";
    EXPECT_EQ(replies[10], "\x03\x03") << "at the end: no byte, then ETX";

    struct Way {
        const char* name;
        std::vector<size_t> (*cuts)(const Request&, size_t);
        size_t splits;  // how many ways to cut each request
    } ways[] = {
        {"a byte at a time", [](const Request& r, size_t) { return every_byte(r.size()); }, 1},
        {"split in two at each point", [](const Request&, size_t at) { return std::vector<size_t>{at + 1}; },
         0 /* one per byte */},
    };
    for (const Way& way : ways) {
        for (size_t i = 0; i < session.size(); ++i) {
            const size_t splits = way.splits ? way.splits : session[i].size() - 1;
            for (size_t at = 0; at < splits; ++at) {
                // The same state before the request: the session up to it.
                TearDown();
                SetUp();
                for (size_t j = 0; j < i; ++j) feed(session[j], {});
                hold_times(dir);
                wire.clear();
                const Fed fed = feed(session[i], way.cuts(session[i], at));
                EXPECT_EQ(fed.status, rpc_status::done) << way.name << ", request " << i << ", cut " << at;
                EXPECT_EQ(wire, replies[i]) << way.name << ", request " << i << ", cut " << at;
            }
        }
        TearDown();
        SetUp();
        for (const Request& r : session) feed(r, every_byte(r.size()));
        EXPECT_EQ(file(dir + "/moved.bin"), whole_file) << way.name;
    }
}

// What is no request: its bytes, the STX first, come back to be shown as
// text, and the parser stops right behind the byte that decided it.
TEST_F(RequestParser, NoiseIsDecidedInOnePlace) {
    struct Case {
        const char* name;
        Request request;
        bool silent;  // the line falls silent after it
        rpc_status status;
        std::string noise;  // shown as text, after the STX
        size_t left;        // bytes left for the terminal
        std::string reply;  // after the ready ETX
    } cases[] = {
        {"a name one byte too long", code(RPC_REMOVE) + std::string(80, 'n') + "tail", false, rpc_status::noise,
         code(RPC_REMOVE) + std::string(80, 'n'), 4, ""},
        {"a name of 79 bytes is a name", code(RPC_REMOVE) + text(std::string(79, 'n')), false, rpc_status::done, "", 0,
         u16(0xFFFF)},
        {"data for a handle that names nothing", code(RPC_WRITE) + u32(77) + "hello\x03", false, rpc_status::noise,
         code(RPC_WRITE) + u32(77), 6, ""},
        {"silent before it was whole", code(RPC_OPEN) + text("a.txt") + "r", true, rpc_status::noise,
         code(RPC_OPEN) + text("a.txt") + "r", 0, ""},
        {"an unknown code is no noise: it is told, and what follows is text", code(0x7F) + "abc", false,
         rpc_status::done, "", 3, ""},
        {"a bare ETX where the code belongs", "\x03" + u32(1), false, rpc_status::done, "", 4, ""},
    };
    for (const Case& c : cases) {
        wire.clear();
        testing::internal::CaptureStdout();
        Fed fed = feed(c.request, {});
        if (c.silent) {
            EXPECT_EQ(fed.status, rpc_status::more) << c.name;
            EXPECT_FALSE(rpc_patience(service).is_never()) << c.name;
            rpc_silence(service);
            fed.status = rpc_status::noise;
        }
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_EQ(fed.status, c.status) << c.name;
        if (c.status == rpc_status::noise) {
            EXPECT_EQ(rpc_noise(service), "\x02" + c.noise) << c.name;
        }
        EXPECT_EQ(fed.left, c.left) << c.name;
        EXPECT_EQ(wire, "\x03" + c.reply) << c.name;
        EXPECT_EQ(said.find("nicht implementierter RPC") != std::string::npos, c.left > 0 && c.status == rpc_status::done)
            << c.name;
    }
}

// Once whole, a request has no patience: a write's data may take as long
// as the target needs (a breakpoint in the middle of it).
TEST_F(RequestParser, AWholeRequestWaitsForItsDataWithoutPatience) {
    feed(code(RPC_OPEN) + text("slow.txt") + text("w"), {});
    rpc_begin(service);
    const Request write = code(RPC_WRITE) + u32(1) + "part";
    const auto* bytes = reinterpret_cast<const unsigned char*>(write.data());
    EXPECT_EQ(rpc_feed(service, bytes, write.size()).status, rpc_status::more);
    EXPECT_TRUE(rpc_patience(service).is_never());
    const unsigned char rest[] = {'!', BYTE_ETX};
    EXPECT_EQ(rpc_feed(service, rest, 2).status, rpc_status::done);
    feed(code(RPC_CLOSE) + u32(1), {});
    EXPECT_EQ(file(dir + "/slow.txt"), "part!");
}

// --request-timeout: the silence a request is given from its STX and from
// each piece on, until it is whole; 0 gives it no end.
TEST_F(RequestParser, SilenceInsideARequestIsGivenTheRequestTimeOut) {
    const struct {
        const char* name;
        long long timeout_ms;
        int at_least_ms;  // -1: never
    } cases[] = {
        {"the default", REQUEST_TIMEOUT_DEFAULT_MS, 900},
        {"2.5 seconds", 2500, 2400},
        {"0 waits for ever", 0, -1},
    };
    for (const auto& c : cases) {
        service_settings settings;
        settings.root = dir;
        settings.request_timeout_ms = c.timeout_ms;
        ASSERT_TRUE(rpc_start(service, settings)) << c.name;
        wire.clear();
        rpc_begin(service);
        const Request part = code(RPC_OPEN) + "a.t";
        for (int look = 0; look < 2; ++look) {
            const int left = rpc_patience(service).left_ms();
            if (c.at_least_ms < 0) {
                EXPECT_TRUE(rpc_patience(service).is_never()) << c.name << ", look " << look;
            } else {
                EXPECT_GE(left, c.at_least_ms) << c.name << ", look " << look;
                EXPECT_LE(left, c.timeout_ms) << c.name << ", look " << look;
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(part.data());
            if (look == 0) {
                EXPECT_EQ(rpc_feed(service, bytes, part.size()).status, rpc_status::more) << c.name;
            }
        }
        rpc_abandon(service);
    }
}

}  // namespace tolvane
