// Writes the fuzz targets' checked-in inputs, encoded by the program's own
// link codec: the seed corpus (valid requests and replies) and the line
// target's regression inputs. Run from the source tree's top:
//
//   build/fuzz/tolvane-fuzz-seeds fuzz
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "fileservice/rpc.h"
#include "link/link.h"
#include "net/telnet.h"

using namespace tolvane;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes out;  // what link_put_raw sends

std::string top;

void write_input(const std::string& dir, const std::string& name, const Bytes& bytes) {
    mkdir((top + "/" + dir).c_str(), 0755);
    const std::string path = top + "/" + dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

// --- What a target sends (the line target) ---

void request(int code) {
    link_put(SYM_STX);
    link_put(code);
}
void open_file(const char* name, const char* mode) {
    request(RPC_OPEN);
    link_put_text(name);
    link_put_text(mode);
}
void read_file(int32_t count, uint32_t handle) {
    request(RPC_READ);
    link_put_u32(static_cast<uint32_t>(count));
    link_put_u32(handle);
}
void write_file(uint32_t handle, const std::string& data) {
    request(RPC_WRITE);
    link_put_u32(handle);
    for (char c : data) link_put(static_cast<unsigned char>(c));
    link_put(SYM_ETX);
}
void close_file(uint32_t handle) {
    request(RPC_CLOSE);
    link_put_u32(handle);
}
void get_char(uint32_t handle) {
    request(RPC_GETC);
    link_put_u32(handle);
}
void put_char(uint32_t handle, int c) {
    request(RPC_PUTC);
    link_put_u32(handle);
    link_put_u16(static_cast<uint32_t>(c));
}
void get_line(uint32_t handle, int size) {
    request(RPC_GETS);
    link_put_u32(handle);
    link_put_u16(static_cast<uint32_t>(size));
}
void put_text(uint32_t handle, const char* text) {
    request(RPC_PUTS);
    link_put_u32(handle);
    link_put_text(text);
}
void find_first(const char* pattern, int attributes) {
    request(RPC_FIND_FIRST);
    link_put_text(pattern);
    link_put_u16(static_cast<uint32_t>(attributes));
}
void find_next() { request(RPC_FIND_NEXT); }
void remove_file(const char* name) {
    request(RPC_REMOVE);
    link_put_text(name);
}
void rename_file(const char* old_name, const char* new_name) {
    request(RPC_RENAME);
    link_put_text(old_name);
    link_put_text(new_name);
}
void tell(uint32_t handle) {
    request(RPC_TELL);
    link_put_u32(handle);
}
void seek(uint32_t handle, int32_t offset, int origin) {
    request(RPC_SEEK);
    link_put_u32(handle);
    link_put_u32(static_cast<uint32_t>(offset));
    link_put_u16(static_cast<uint32_t>(origin));
}
void push_back(int c, uint32_t handle) {
    request(RPC_UNGETC);
    link_put_u16(static_cast<uint32_t>(c));
    link_put_u32(handle);
}

// Line target switches (fuzz/line_fuzzer.cpp).
constexpr uint8_t TRACE = 1, READ_ONLY = 2, WALK = 4, EVENTS = 8, TELNET = 16;

// Event mode: what the target sends so far becomes one event of its own
// (in parts of 255), then keys, a refusing line or a line lost follow.
size_t sent_mark = 1;
void flush_sent() {
    Bytes sent(out.begin() + static_cast<long>(sent_mark), out.end());
    out.resize(sent_mark);
    for (size_t at = 0; at < sent.size(); at += 255) {
        const size_t n = std::min<size_t>(255, sent.size() - at);
        out.push_back(0);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), sent.begin() + static_cast<long>(at), sent.begin() + static_cast<long>(at + n));
    }
    sent_mark = out.size();
}
void event(uint8_t tag, const std::string& keys) {
    flush_sent();
    out.push_back(tag);
    out.push_back(static_cast<uint8_t>(keys.size()));
    out.insert(out.end(), keys.begin(), keys.end());
    sent_mark = out.size();
}
void type_keys(const std::string& keys) { event(1, keys); }
void refuse_output(int tries) {
    flush_sent();
    out.push_back(2);
    out.push_back(static_cast<uint8_t>(tries));
    sent_mark = out.size();
}
void lose_line() { event(3, std::string()); }

// One line input: the switches, then what body() sends.
template <typename F>
void line(const char* dir, const std::string& name, uint8_t switches, F body) {
    out.assign(1, switches);
    sent_mark = 1;
    body();
    if (switches & EVENTS) flush_sent();
    write_input(dir, name, out);
}

void line_corpus() {
    const char* dir = "corpus/line";
    line(dir, "terminal-text", 0, [] {
        for (const char* p = "hello\r\n\x0c"; *p; ++p) link_put_raw(static_cast<unsigned char>(*p));
        link_put(0x02);  // escaped: data, no request
        link_put(0x10);
    });
    line(dir, "open-write-close", TRACE, [] {
        open_file("new.txt", "w");
        write_file(1, std::string("some data \x02\x03\x10 end\n"));
        write_file(1, "");
        close_file(1);
    });
    line(dir, "open-read-close", TRACE, [] {
        open_file("hello.txt", "r");
        read_file(3, 1);
        read_file(100, 1);
        read_file(0, 1);
        read_file(-1, 1);
        close_file(1);
    });
    line(dir, "getc-pushback", TRACE, [] {
        open_file("hello.txt", "rb");
        get_char(1);
        push_back('H', 1);
        get_char(1);
        get_char(2);
        close_file(1);
    });
    line(dir, "putc-puts-seek-gets", TRACE, [] {
        open_file("out.txt", "a+");
        put_char(1, 'x');
        put_text(1, "a line\n");
        seek(1, 0, 0);
        get_line(1, 100);
        tell(1);
        seek(1, -2, 2);
        get_char(1);
        close_file(1);
    });
    line(dir, "gets-sizes", 0, [] {
        open_file("hello.txt", "r");
        get_line(1, 0);
        get_line(1, 4097);
        get_line(1, 1);
        get_line(1, 4096);
        get_line(1, 3);
        close_file(1);
    });
    line(dir, "find", TRACE, [] {
        find_first("*", 16);
        find_next();
        find_next();
        find_first("d/*.c", 0);
        find_next();
        find_first("C:\\D\\*.*", 0);
        find_first(".*", 0);
        find_first("to-d/*", 0);
        find_first("nothing/*", 0);
        find_next();
    });
    line(dir, "remove-rename", TRACE, [] {
        rename_file("hello.txt", "d/moved.txt");
        remove_file("d/moved.txt");
        remove_file("d/");
        rename_file("d", "e/");
        remove_file("empty");
        remove_file("/");
    });
    const auto links = [] {
        open_file("d/up/hello.txt", "r");
        open_file("abs", "r");
        open_file("escape", "w");
        open_file("deep/canary", "a");
        open_file("loop", "r");
        open_file("dangling", "w");
        open_file("to-d/x.c", "r+");
        open_file("../../../hello.txt", "r");
        rename_file("d/back", "../../x");
        remove_file("/../d/x.c");
        find_first("d/up/*", 0);
    };
    line(dir, "links", TRACE, links);
    line(dir, "links-walked", TRACE | WALK, links);
    line(dir, "read-only", TRACE | READ_ONLY, [] {
        open_file("hello.txt", "w");
        open_file("hello.txt", "r+");
        open_file("hello.txt", "r");
        put_char(4, 'x');
        write_file(4, "x");
        put_text(4, "x");
        remove_file("hello.txt");
        rename_file("hello.txt", "x");
    });
    line(dir, "modes", 0, [] {
        const char* modes[] = {"r", "rb", "r+b", "wx", "w+", "a", "w+t", "rw", "w,ccs=UTF-8", "", "we", "rbb"};
        for (const char* mode : modes) open_file("m.txt", mode);
    });
    line(dir, "runtime", TRACE, [] {
        request(RPC_VERSION);
        open_file("r.txt", "w");
        put_text(1, "hello");
        request(RPC_FSTAT);
        link_put_u32(1);
        request(RPC_FSTAT);
        link_put_u32(9);
        request(RPC_STAT);
        link_put_text("r.txt");
        request(RPC_STAT);
        link_put_text("none/x");
        request(RPC_MKDIR);
        link_put_text("made");
        request(RPC_MKDIR);
        link_put_text("made");
        request(RPC_STAT);
        link_put_text("made");
        request(RPC_RMDIR);
        link_put_text("made");
        request(RPC_RMDIR);
        link_put_text("r.txt");
        request(RPC_TIME);
        request(RPC_EXIT);
        link_put_u32(3);
        link_put('x');
    });
    line(dir, "runtime-read-only", TRACE | READ_ONLY, [] {
        request(RPC_MKDIR);
        link_put_text("made");
        request(RPC_RMDIR);
        link_put_text("/");
        request(RPC_STAT);
        link_put_text("../..");
        request(RPC_EXIT);
        link_put_u32(300);
    });
    line(dir, "unknown-codes", TRACE, [] {
        request(0x7F);
        link_put(SYM_STX);
        link_put(SYM_ETX);  // a close sent unescaped is no close
        link_put_u32(1);
        request(0xFF);
    });
    line(dir, "bad-handles", TRACE, [] {
        close_file(0);
        close_file(99);
        tell(7);
        seek(7, 0, 0);
        get_line(7, 10);
        read_file(10, 0xFFFFFFFF);
    });
    line(dir, "seek-far", 0, [] {
        open_file("big", "w+");
        seek(1, 100000, 0);
        put_char(1, 'z');
        seek(1, 0, 0);
        read_file(0x7FFFFFFF, 1);
        seek(1, 0, 7);
        close_file(1);
    });
    line(dir, "request-cut-short", TRACE, [] {
        open_file("hello.txt", "r");
        request(RPC_READ);
        link_put(0);
    });
    // Keys and a line that takes no output or goes away, between and inside
    // requests.
    line(dir, "keys-inside-a-request", TRACE | EVENTS, [] {
        type_keys("ls\r");
        open_file("hello.txt", "r");
        request(RPC_READ);
        type_keys("typed meanwhile");
        link_put_u32(5);
        link_put_u32(1);
        close_file(1);
    });
    line(dir, "ctrl-q-inside-a-request", EVENTS, [] {
        request(RPC_WRITE);
        link_put_u32(1);
        type_keys("ab\x11" "cd");
        link_put('x');
    });
    // The command key among keys, and inside a request: commands, the key
    // itself and Ctrl-Q sent as keys, an unknown one, then Ctrl-T q.
    line(dir, "command-keys", EVENTS, [] {
        type_keys("a\x14?\x14\x14" "b\x14\x11" "c\x14t\x14h\x14" "e\x14Lx");
        link_put('o');
        link_put('k');
        request(RPC_WRITE);
        link_put_u32(1);
        type_keys("\x14s\x14" "c\x14" "bd\x14r\x14p\x14v\x14" "l\x14Z\x14");
        link_put('x');
        type_keys("q after");
    });
    line(dir, "line-refuses-output", EVENTS, [] {
        refuse_output(3);
        type_keys(std::string(200, 'k'));
        open_file("hello.txt", "r");
        get_char(1);
        type_keys("more keys");
    });
    line(dir, "line-lost-inside-a-request", TRACE | EVENTS, [] {
        request(RPC_RENAME);
        link_put_text("hello.txt");
        link_put('n');
        lose_line();
        type_keys("for the old line");
        link_put_text("new");
        open_file("hello.txt", "r");
    });
    // Data in blocks: a write whose DLE pairs fall across the events the
    // line brings it in, read back over a line that doubles 0xFF and takes
    // no output for a while, then a short read.
    line(dir, "data-blocks", TRACE | EVENTS | TELNET, [] {
        std::string data;
        for (int i = 0; i < 700; ++i)
            data += static_cast<char>(i % 3 == 0 ? 0x10 : i % 7 == 0 ? 0xFF : i % 5 == 0 ? 0x02 : 'a' + i % 26);
        open_file("blocks.bin", "w+");
        request(RPC_WRITE);
        link_put_u32(1);
        for (char c : data) link_put(static_cast<unsigned char>(c));
        link_put_raw(BYTE_DLE);  // a DLE pair split across two reads of the line
        type_keys("");
        link_put_raw(BYTE_ETX);
        link_put(SYM_ETX);
        seek(1, 0, 0);
        refuse_output(2);
        read_file(700, 1);
        read_file(10, 1);
        close_file(1);
    });
    line(dir, "fifo", TRACE, [] {
        open_file("fifo", "r");
        read_file(10, 1);
        get_line(1, 10);
        open_file("to-fifo", "w");
        open_file("fifo", "r+");
        put_text(2, "x");
        close_file(1);
        close_file(2);
    });
    line(dir, "overlong-names", TRACE, [] {
        open_file(std::string(80, 'x').c_str(), "w");
        remove_file(std::string(200, 'h').c_str());
        rename_file("hello.txt", std::string(90, 'n').c_str());
        put_text(1, std::string(4096, 't').c_str());
    });
}

// The crashes and the leak this harness was written against; each must
// stay fixed.
void line_regressions() {
    const char* dir = "regressions/line";
    // A push back, then output on the same stream: the C library's buffer
    // was corrupted.
    line(dir, "pushback-then-putc-w", TRACE, [] {
        open_file("f", "w");
        push_back('A', 1);
        put_char(1, 'B');
    });
    line(dir, "pushback-then-putc-wplus", TRACE, [] {
        open_file("f", "w+");
        push_back('A', 1);
        put_char(1, 'B');
    });
    line(dir, "pushback-then-putc-rplus", TRACE, [] {
        open_file("f", "w");
        close_file(1);
        open_file("f", "r+");
        push_back('A', 2);
        put_char(2, 'B');
    });
    line(dir, "pushback-then-write-w", TRACE, [] {
        open_file("f", "w");
        push_back('A', 1);
        write_file(1, "B");
    });
    line(dir, "pushback-then-puts-w", TRACE, [] {
        open_file("f", "w");
        push_back('A', 1);
        put_text(1, "B");
    });
    // Output, then a push back, then close.
    line(dir, "putc-pushback-close", TRACE, [] {
        open_file("f", "w");
        put_char(1, 'B');
        push_back('A', 1);
        close_file(1);
    });
    // Keys read by the wait inside a key's own send grew the string being
    // walked: a use after free.
    line(dir, "paste-ctrl-q-paste-line-refusing", EVENTS, [] {
        refuse_output(200);
        for (int i = 0; i < 8; ++i) type_keys(std::string(250, 'p'));
        type_keys("\x11");
        type_keys(std::string(250, 'q'));
    });
    // An open of an 80-byte name took the rest of the name as its mode.
    line(dir, "name-spills-into-mode", TRACE, [] {
        request(RPC_OPEN);
        link_put_text((std::string(79, 'x') + "w").c_str());
        link_put_text("r");
    });
    // The C library's ",ccs=" modes leaked a converter per open and close.
    line(dir, "ccs-mode-open-close", TRACE, [] {
        for (uint32_t handle = 1; handle <= 4; ++handle) {
            open_file("f", "w,ccs=UTF-8");
            close_file(handle);
        }
    });
}

// --- What a host answers (the client target) ---

// A client input: the host's bytes at the front, the choices at the back,
// last first (fuzz/client_fuzzer.cpp reads them from the end).
Bytes replies, choices;

void ready() { replies.push_back(BYTE_ETX); }
void answer16(int value) {
    out.clear();
    link_put_u16(static_cast<uint32_t>(value));
    replies.insert(replies.end(), out.begin(), out.end());
}
void answer32(uint32_t value) {
    out.clear();
    link_put_u32(value);
    replies.insert(replies.end(), out.begin(), out.end());
}
void answer_bytes(const std::string& bytes, bool etx) {
    out.clear();
    for (char c : bytes) link_put(static_cast<unsigned char>(c));
    if (etx) link_put(SYM_ETX);
    replies.insert(replies.end(), out.begin(), out.end());
}
void choose(std::initializer_list<int> bytes) {
    for (int b : bytes) choices.push_back(static_cast<uint8_t>(b));
}
void choose_text(const std::string& text) {
    choices.push_back(static_cast<uint8_t>(text.size()));
    for (char c : text) choices.push_back(static_cast<uint8_t>(c));
}

void client_input(const std::string& name) {
    Bytes input = replies;
    input.insert(input.end(), choices.rbegin(), choices.rend());
    write_input("corpus/client", name, input);
    replies.clear();
    choices.clear();
}

// Call kinds as the client target numbers them; from 16 newlib's calls.
enum { OPEN, READ, WRITE, CLOSE, GETC, PUTC, GETS, PUTS, FIRST, NEXT, REMOVE, RENAME, TELL, SEEK, UNGETC, STRAY };
enum { NL_OPEN = 16, NL_CLOSE, NL_READ, NL_WRITE, NL_LSEEK, NL_STAT, NL_UNLINK, NL_RENAME };
// Beyond the streams: the library's from 24, newlib's from 31.
enum { STAT = 24, FSTAT, MKDIR, RMDIR, TIME, EXIT, FORGET, NL_PATH_STAT, NL_DIRECTORY, NL_CLOCK };

// The version reply of a host that serves codes 0..21; a stat's reply.
void serves_all() {
    ready();
    answer16(1);
    answer32(0x3FFFFF);
}
void status_reply(int kind, uint32_t size, uint32_t modified) {
    ready();
    answer16(0);
    answer16(kind);
    answer32(size);
    answer32(modified);
}

void client_corpus() {
    choose({OPEN});
    choose_text("hello.txt");
    choose_text("r");
    ready();
    answer32(1);
    choose({READ, 10 + 2, 1});
    ready();
    answer_bytes("hello\nworl", false);
    choose({READ, 20 + 2, 1});
    ready();
    answer_bytes("d\n", true);
    choose({CLOSE, 1});
    ready();
    answer16(0);
    client_input("open-read-close");

    choose({WRITE, 5 + 2, 'a', 0x02, 'b', 0x10, '\n', 1});
    ready();
    choose({PUTC, 0, 'x', 1});
    ready();
    answer16('x');
    choose({PUTS, 0, 3, 'a', 'b', '\n', 1});
    ready();
    answer16(0);
    choose({GETC, 1});
    ready();
    answer16(-1);
    choose({UNGETC, 0, 'h', 1});
    ready();
    answer16('h');
    client_input("output-calls");

    choose({GETS, 50 + 2, 1});
    ready();
    answer16(1);
    answer_bytes("hello\n", true);
    choose({GETS, 3 + 2, 1});
    ready();
    answer16(1);
    answer_bytes("wo", true);
    choose({GETS, 50 + 2, 1});
    ready();
    answer16(0);
    choose({GETS, 0xFF, 1, 1});  // HOST_LINE_MAX + 1: refused without a request
    client_input("gets");

    choose({FIRST});
    choose_text("*.c");
    choose({16});
    ready();
    answer16(0);
    answer16(0x10);
    answer16(0xBF7D);
    answer16(0x279F);
    answer32(1234);
    answer_bytes(std::string("a.c\0\0\0\0\0\0\0\0\0\0\0", 14), false);
    choose({NEXT});
    ready();
    answer16(-1);
    client_input("find");

    choose({REMOVE});
    choose_text("old.txt");
    ready();
    answer16(0);
    choose({RENAME});
    choose_text("a");
    choose_text("b");
    ready();
    answer16(-1);
    choose({TELL, 1});
    ready();
    answer32(12);
    choose({SEEK, 1, 0, 0, 0, 4, 0, 0});
    ready();
    answer16(0);
    client_input("names-and-positions");

    choose({STRAY, 1});
    choose({GETC, 1});
    answer_bytes("keys", false);
    ready();
    answer16('k');
    choose({CLOSE, 1});
    ready();
    replies.push_back(0);  // half a result, then no host
    client_input("stray-keys-then-silence");

    // open(O_RDWR | O_CREAT): "r+b" refused, "w+b" gives handle 1 (fd 3).
    const int create_read_write = O_RDWR | O_CREAT;
    choose({NL_OPEN});
    choose_text("new.bin");
    choose({create_read_write >> 8, create_read_write & 0xFF});
    ready();
    answer32(0);
    ready();
    answer32(1);
    choose({NL_WRITE, 4, 3 + 2, 'a', 0x10, '\n'});
    ready();
    choose({NL_WRITE, 2, 3 + 2, 'o', 'k', '\n'});  // the console
    choose({NL_LSEEK, 4, 0, 0, 0, 1, 0});
    ready();
    answer16(0);
    ready();
    answer32(1);
    choose({NL_READ, 4, 8 + 2});
    ready();
    answer_bytes("\x10\n", true);
    choose({NL_STAT, 4});
    serves_all();  // fstat of a host file asks the host
    status_reply(1, 16, 9);
    choose({NL_CLOSE, 4});
    ready();
    answer16(0);
    choose({NL_UNLINK});
    choose_text("new.bin");
    ready();
    answer16(-1);
    choose({NL_RENAME});
    choose_text("a");
    choose_text("b");
    ready();
    answer16(0);
    client_input("newlib-calls");

    // Every call beyond the streams against a host that serves them.
    choose({STAT});
    choose_text("a.txt");
    serves_all();
    status_reply(1, 0x10, 1700000000);
    choose({FSTAT, 1});
    status_reply(2, 4096, 0);
    choose({MKDIR});
    choose_text("d");
    ready();
    answer16(-3);
    choose({RMDIR});
    choose_text("d");
    ready();
    answer16(-5);
    choose({TIME});
    ready();
    answer32(1700000000);
    answer32(999999);
    choose({NL_PATH_STAT});
    choose_text("a.txt");
    ready();
    answer16(-2);
    choose({NL_DIRECTORY});
    choose_text("d");
    choose({1});  // mkdir
    ready();
    answer16(0);
    choose({NL_CLOCK, 0});  // times
    ready();
    answer32(100);
    answer32(500000);
    choose({NL_CLOCK, 1});  // gettimeofday
    ready();
    answer32(101);
    answer32(0);
    choose({EXIT, 0, 0, 0, 3});
    ready();
    client_input("beyond-calls");

    // A host without them: its ETX, then silence.
    choose({FORGET, MKDIR});
    choose_text("d");
    choose({TIME});
    ready();
    client_input("beyond-older-host");
}

// --- Command lines (the options target) ---

void options_input(const std::string& name, uint8_t switches, std::initializer_list<const char*> words) {
    Bytes input(1, switches);
    bool first = true;
    for (const char* word : words) {
        if (!first) input.push_back(0);
        first = false;
        for (const char* p = word; *p; ++p) input.push_back(static_cast<uint8_t>(*p));
    }
    write_input("corpus/options", name, input);
}

void options_corpus() {
    constexpr uint8_t ENTRY = 1, NO_LINE = 2, NO_ROOT = 4;
    options_input("line-and-speed", ENTRY, {"tolvane", "-c", "/dev/ttyUSB0", "-b", "9600", "reset", "board"});
    options_input("clustered", ENTRY, {"tolvane", "-qrp", "-d", "/srv/board", "echo", "hi"});
    options_input("upper-case-and-dashes", ENTRY, {"tolvane", "-C", "  /dev/ttyS1  x", "-R", "--", "-q"});
    options_input("illegal-option", 0, {"tolvane", "-x"});
    options_input("missing-argument", ENTRY, {"tolvane", "-c"});
    options_input("empty-device", ENTRY, {"tolvane", "-c", " "});
    options_input("clustered-argument", ENTRY, {"tolvane", "-qc", "/dev/x"});
    options_input("argument-attached", ENTRY, {"tolvane", "-c/dev/x"});
    options_input("line-fails", ENTRY | NO_LINE, {"tolvane", "-q", "words"});
    options_input("root-fails", ENTRY | NO_ROOT, {"tolvane", "-D", "/nowhere"});
    options_input("no-words", ENTRY, {});
    options_input("lone-dash", ENTRY, {"tolvane", "-", "-q"});
    options_input("long-options", ENTRY, {"tolvane", "--version=1", "--help", "-b", "fast", "--bogus"});
    options_input("help-mid-scan", ENTRY, {"tolvane", "-q", "-h", "-c"});
    options_input("rfc2217-url", ENTRY, {"tolvane", "-c", "rfc2217://lab-host:3001", "-b", "921600"});
    options_input("tcp-url-ipv6", ENTRY, {"tolvane", "-c", "tcp://[::1]:3001"});
    options_input("url-without-port", ENTRY, {"tolvane", "-c", "rfc2217://lab-host"});
}

// --- Patterns and lines (the matcher target) ---

void matcher_input(const std::string& name, uint8_t switches, const std::string& pattern, const std::string& text) {
    Bytes input{switches};
    input.insert(input.end(), pattern.begin(), pattern.end());
    input.push_back(0);
    input.insert(input.end(), text.begin(), text.end());
    write_input("corpus/matcher", name, input);
}

void matcher_corpus() {
    constexpr uint8_t C_LIBRARY = 1, LINE = 2 | 4, NOT_END = 2, FROM_3 = 3 << 3;
    matcher_input("word-edges", C_LIBRARY | LINE, "\\bPASS\\b", "test PASS.");
    matcher_input("word-and-space", C_LIBRARY | LINE, "\\w+ ok|\\s*PASS$", "test_1 ok");
    matcher_input("classes", C_LIBRARY | LINE, "[[:digit:]]+ tests?[^]a-z[:space:]]", "12 tests!");
    matcher_input("alternation", C_LIBRARY | LINE, "(a|ab)(c|bcd)(d*)", "abcd");
    matcher_input("counted", C_LIBRARY | LINE, "[0-9]{1,3}(\\.[0-9]{1,3}){3}", "ip 192.168.10.1");
    matcher_input("anchors-unfinished", C_LIBRARY | NOT_END, "^FAILED: [0-9]+$|panic", "FAILED: 3");
    matcher_input("behind-a-match", LINE | FROM_3, "\\<b\\>|^x", "ab b");
    matcher_input("back-reference", LINE, "(a*)(a*)(a*)\\3\\2\\1b$", std::string(61, 'a'));
    matcher_input("nested-stars", C_LIBRARY | LINE, "(x+x+)+y", std::string(60, 'x'));
    matcher_input("long-line", LINE, "(a|aa)*c", std::string(4096, 'a'));
    matcher_input("largest", LINE, "(.{248}x?){40}", std::string(4096, '.'));
    matcher_input("too-large", LINE, "(a{1,255}){1,255}", "a");
}

// --- A server's telnet (the telnet target) ---

void telnet_input(const std::string& name, uint8_t switches, std::initializer_list<Bytes> parts) {
    Bytes input{switches};
    for (const Bytes& p : parts) input.insert(input.end(), p.begin(), p.end());
    write_input("corpus/telnet", name, input);
}

// A server's answer to a setting, as the codec writes commands.
Bytes answer(uint8_t command, uint32_t value) {
    Bytes wire(tolvane::COMMAND_MAX);
    wire.resize(tolvane::com_port_command(
        static_cast<uint8_t>(command + tolvane::rfc2217::SERVER), value,
        command == tolvane::rfc2217::SET_BAUDRATE ? 4 : 1, wire.data()));
    return wire;
}

void telnet_corpus() {
    using namespace tolvane::telnet;
    namespace cp = tolvane::rfc2217;
    constexpr uint8_t RFC2217 = 1, CUT = 6;
    const Bytes hello = {IAC, WILL, SGA, IAC, DO, SGA, IAC, WILL, ECHO, IAC, DONT, ECHO,
                         IAC, DO, BINARY, IAC, WILL, BINARY, IAC, DO, COM_PORT};
    const Bytes answers = [] {
        Bytes all;
        tolvane::line_settings line;
        line.baud = 921600;
        for (const auto& s : tolvane::com_port_line_settings(line)) {
            const Bytes one = answer(s.command, s.value);
            all.insert(all.end(), one.begin(), one.end());
        }
        return all;
    }();
    telnet_input("ser2net-opening", RFC2217, {hello, answers, {'o', 'k', IAC, IAC, '\r', '\n'}});
    telnet_input("ser2net-opening-cut", RFC2217 | CUT, {hello, {'x'}, answers});
    telnet_input("refused-speed", RFC2217, {hello, answer(cp::SET_BAUDRATE, 115200)});
    telnet_input("refused-option", RFC2217, {{IAC, DONT, COM_PORT, IAC, WONT, BINARY}});
    telnet_input("signature-asked", RFC2217, {{IAC, SB, COM_PORT, 100, IAC, SE, IAC, SB, COM_PORT, 107, 0, IAC, SE}});
    telnet_input("raw-data", 0, {{'a', IAC, IAC, 'b', IAC, 241, IAC, WILL, 24, 0xFE}});
    // A share's rfc2217 side: pyserial opening, setting the line, typing
    // and purging; a client's request too long to be one.
    constexpr uint8_t SERVER = 0x80;
    const Bytes pyserial = {IAC, WILL, COM_PORT, IAC, WILL, SGA, IAC, DO, SGA, IAC, DO, COM_PORT};
    const Bytes settings = [] {
        Bytes all;
        tolvane::line_settings line;
        line.baud = 0x1FFFF;  // a 0xFF in the value
        for (const auto& s : tolvane::com_port_line_settings(line)) {
            Bytes one(tolvane::COMMAND_MAX);
            one.resize(tolvane::com_port_command(s, one.data()));
            all.insert(all.end(), one.begin(), one.end());
        }
        return all;
    }();
    const Bytes purge = {IAC, SB, COM_PORT, cp::PURGE_DATA, cp::PURGE_BOTH, IAC, SE};
    telnet_input("share-pyserial", SERVER, {pyserial, settings, {'k', IAC, IAC}, purge});
    telnet_input("share-pyserial-cut", SERVER | CUT, {pyserial, settings, purge});
    Bytes overlong = {IAC, SB, COM_PORT, cp::SET_BAUDRATE};
    overlong.resize(overlong.size() + 100, 'x');
    telnet_input("share-overlong", SERVER, {overlong, {IAC, SE, 'a'}, purge});
}

}  // namespace

namespace tolvane {

int link_get_raw() { return -1; }
void link_put_raw(int byte) { out.push_back(static_cast<uint8_t>(byte)); }

}  // namespace tolvane

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FUZZ_DIR\n", argv[0]);
        return 2;
    }
    top = argv[1];
    mkdir((top + "/corpus").c_str(), 0755);
    mkdir((top + "/regressions").c_str(), 0755);
    line_corpus();
    line_regressions();
    client_corpus();
    options_corpus();
    matcher_corpus();
    telnet_corpus();
    return 0;
}
