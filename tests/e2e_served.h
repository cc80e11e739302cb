// Helpers for the file-service tests: a running tolvane in a scratch
// directory with the test as its target, and requests built byte by byte
// for the cases where the exact wire bytes matter.
#pragma once

#include <cstdint>
#include <string>

#include "tests/harness.h"

namespace e2e {

struct Served {
    Session run;
    std::string dir;         // tolvane's working directory
    size_t console_mark = 0;  // where the console output after the banner starts
};

// Starts tolvane (with -r when trace is set, and more_args after that; the
// program given, if one is) in a fresh scratch directory, reads the reset,
// waits for the banner and the raw console, and binds the client library to
// the line. prepare runs in the scratch directory before the start.
void serve(Served& s, const std::string& scratch_name, bool trace, const std::vector<std::string>& more_args = {},
           const std::string& program = {}, const std::function<void(const std::string& dir)>& prepare = {});
// Ctrl-Q; the program must end with status 0 and nothing left on the line.
void finish(Served& s);

// The console output since the banner.
std::string console_since_banner(Served& s);
// The console is raw while tolvane serves, so its own lines end in CR LF
// there. The two below take text written with LF and look for it in that
// form; the target's bytes in such a text must not hold LF themselves.
std::string as_on_raw_console(const std::string& text);
// Waits until the console since the banner ends with text.
bool console_wait_tail(Served& s, const std::string& text);
// Waits for expected to end the console since the banner, then requires
// the console since the banner to be exactly that.
void expect_console(Served& s, const std::string& expected);

// Request bytes as the target puts them on the wire.
struct Wire {
    Bytes bytes;
    Wire& data(int byte);  // escaped where 0x02, 0x03, 0x10
    Wire& data(const Bytes& b);
    Wire& text(const std::string& s);  // escaped bytes and a bare ETX
    Wire& bare(int byte);
    Wire& u16(uint32_t value);
    Wire& u32(uint32_t value);
};

// Sends a bare STX, expects the host's bare ETX, then sends the code and the
// fields. A code is a data byte like any other: 2 and 3 travel escaped.
void request(Served& s, int code, const Wire& fields);
// Like request, with the code position's bytes given as they are.
void request_raw(Served& s, const Bytes& after_stx);

// Exactly n bytes from the line (fewer only when the host stops sending).
std::string reply(Served& s, size_t n);

// A host file's bytes, and writing one.
Bytes file_bytes(const std::string& path);
void write_file(const std::string& path, const Bytes& content);

}  // namespace e2e
