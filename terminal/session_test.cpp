// The whole session over a fake transport and a fake wait: the loop, the
// demultiplexer, the file service and the line's queue together, as the
// program runs them. Each run ends the way the program does (Ctrl-Q, then
// exit), so each case runs in a child and reports on standard error.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "base/console_platform.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/line_transport.h"
#include "base/serial_lines.h"
#include "base/settings.h"
#include "base/wait.h"
#include "fileservice/rpc.h"
#include "terminal/session.h"
#include "terminal/term_loop.h"

namespace tolvane {

namespace {

using Bytes = std::string;

// The board: what it sends, read by read, and what the host wrote to it.
// A write takes at most per_write bytes, so long replies go in pieces.
struct board_transport : line_transport {
    std::deque<Bytes> reads;
    Bytes written;
    size_t per_write = 1 << 20;

    long read(unsigned char* buffer, size_t size) override {
        if (reads.empty()) return 0;
        Bytes next = reads.front();
        reads.pop_front();
        const size_t n = std::min(size, next.size());
        next.copy(reinterpret_cast<char*>(buffer), n);
        if (n < next.size()) reads.push_front(next.substr(n));
        return static_cast<long>(n);
    }
    long write(const unsigned char* bytes, size_t count) override {
        const size_t n = std::min(count, per_write);
        written.append(reinterpret_cast<const char*>(bytes), n);
        return static_cast<long>(n);
    }
    bool close(bool, int) override { return false; }
    bool let_go() override { return false; }
    long speed() const override { return 115200; }
};

board_transport* board = nullptr;
// Keys typed in the wait of this turn of the loop (counted from 1).
std::vector<std::pair<int, std::string>> typed;
int turn = 0;
std::string shown;  // what went to the console

std::string hex(const Bytes& bytes) {
    std::string out;
    char two[4];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x ", b);
        out += two;
    }
    return out;
}

// The session's end: what the board got and what the console showed.
void report() {
    std::fprintf(stderr, "written: %s\nshown: %s\n", hex(board->written).c_str(), shown.c_str());
}

// Runs the session over a board that sends reads; never returns.
[[noreturn]] void run(std::deque<Bytes> reads, size_t per_write) {
    board = new board_transport;
    board->reads = std::move(reads);
    board->per_write = per_write;
    char dir[] = "/tmp/session-test-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    std::FILE* f = std::fopen((std::string(dir) + "/in.txt").c_str(), "wb");
    for (int i = 0; i < 40000; ++i) std::fputc('a' + i % 26, f);
    std::fclose(f);
    std::atexit(report);
    session s;
    service_settings files;
    files.root = std::string(dir);
    if (!rpc_start(s.files, files)) std::abort();
    line_settings settings;
    settings.device = "/dev/board";
    if (!line_open(s.line, settings)) std::abort();
    term_loop(s, false);
    std::abort();  // the loop ends the program itself
}

// What a request looks like from the board, its STX first.
Bytes open_request(const std::string& name, const std::string& mode) {
    return "\x02" + std::string(1, RPC_OPEN) + name + "\x03" + mode + "\x03";
}
Bytes read_request(uint32_t count, uint32_t handle) {
    Bytes r = "\x02\x10\x01";
    for (uint32_t v : {count, handle})
        for (int shift = 24; shift >= 0; shift -= 8) r += static_cast<char>(v >> shift);
    return r;
}

}  // namespace

line_transport* device_transport_open(const line_settings&, bool, open_outcome* outcome) {
    outcome->result = open_result::opened;
    return board;
}
line_transport* network_transport_open(const line_settings&, bool, bool, const wait_watch&) { return nullptr; }

// The wait: keys typed in their turn; Ctrl-Q once the board has nothing
// more to send. A wait that would sleep for good (nothing to watch that
// can come, no deadline) ends the run with status 3.
bool wait_once(line_state& line, unsigned events, deadline until) {
    key_queue& keys = *line.watch.keys;
    ++turn;
    for (const auto& [at, text] : typed)
        if (at == turn) keys_add(keys, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    const bool input = (events & (WAIT_INPUT | WAIT_TEXT)) && !board->reads.empty();
    const bool output = events & WAIT_OUTPUT;
    if (!input && !output && until.is_never() && keys_queued(keys) == 0) {
        if (!board->reads.empty()) {
            std::fprintf(stderr, "stalled\n");
            std::exit(3);
        }
        const unsigned char quit = 0x11;
        keys_add(keys, &quit, 1);
    }
    return input || output;
}
bool wait_line_only(line_state&, unsigned, deadline) { return true; }
const unsigned char KEYBOARD_BACKSPACE = 0x7F;
void keyboard_take() {}
bool keyboard_is_terminal() { return true; }
void keyboard_release() {}
const bool console_text_crlf = false;
long console_write_out(const unsigned char* bytes, size_t count) {
    shown.append(reinterpret_cast<const char*>(bytes), count);
    return static_cast<long>(count);
}
size_t console_out_in_flight() { return 0; }
bool console_out_broken() { return false; }
void console_write_error(const char* text, size_t count) { std::fwrite(text, 1, count, stderr); }
bool log_file_open(const char*, bool*) { return false; }
long log_file_write(const unsigned char*, size_t count) { return static_cast<long>(count); }
void log_file_close() {}
void console_wait_writable(bool, bool, deadline) {}
std::vector<serial_line> find_serial_lines() { return {}; }

// Text around requests, requests split across reads, a read longer than
// the output queue holds, written in small pieces, keys typed during a request: every case ends with
// Ctrl-Q and exit 0, the board's bytes and the console's text in order.
TEST(Session, TheLoopServesRequestsAmongTextAndKeys) {
    struct Case {
        const char* name;
        std::deque<Bytes> reads;
        size_t per_write;
        std::vector<std::pair<int, std::string>> typed;
        std::string written;  // a regular expression of what the board got
        std::string shown;
    } cases[] = {
        {"text, an open, text", {"hi " + open_request("in.txt", "rb") + " bye"}, 1 << 20, {},
         "written: 03 00 00 00 01 \n", "hi  bye"},
        {"a request split across reads", {"a\x02", std::string("\x00in.t", 5), "xt\x03r", "b\x03z"}, 1 << 20, {},
         "written: 03 00 00 00 01 \n", "az"},
        {"a long read leaves in small writes and ends", {open_request("in.txt", "rb") + read_request(40000, 1)}, 7,
         {}, "written: 03 00 00 00 01 03 61 62 63 64 .* 78 79 7a 61 62 63 64 65 66 67 68 69 6a 6b 6c \n", ""},
        {"keys typed inside a request go out after its reply",
         {open_request("in.txt", "rb").substr(0, 4), open_request("in.txt", "rb").substr(4)},
         1 << 20, {{1, "k"}}, "written: 03 00 00 00 01 6b \n", ""},
    };
    for (const Case& c : cases) {
        typed = c.typed;
        EXPECT_EXIT(run(c.reads, c.per_write), testing::ExitedWithCode(0), c.written + "shown: " + c.shown)
            << c.name;
    }
}

}  // namespace tolvane
