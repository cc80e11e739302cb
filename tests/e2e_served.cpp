#include "tests/e2e_served.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace e2e {

void serve(Served& s, const std::string& scratch_name, bool trace, const std::vector<std::string>& more_args,
           const std::string& program, const std::function<void(const std::string& dir)>& prepare) {
    s.dir = scratch_dir(scratch_name);
    if (prepare) prepare(s.dir);
    std::vector<std::string> args{"-c", "{line}"};
    if (trace) args.push_back("-r");
    args.insert(args.end(), more_args.begin(), more_args.end());
    Options options;
    options.workdir = s.dir;
    options.program = program;
    s.run = start(args, options);
    ASSERT_EQ(hex(line_read(s.run, 50)), hex(reset_sequence()));
    ASSERT_TRUE(console_wait_for(s.run, "Exit with Ctrl-Q\r\n\r\n")) << s.run.console_output;
    ASSERT_TRUE(console_wait_raw(s.run));
    s.console_mark = s.run.console_output.size();
    target_attach(s.run);
}

void finish(Served& s) {
    console_type(s.run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(s.run)), 0) << "tolvane did not end normally";
    EXPECT_EQ(hex(line_drain(s.run, 50)), "") << "bytes left on the line";
    EXPECT_FALSE(target_timed_out()) << "the target waited in vain for the host";
    close_pty(s.run.line);
    close_pty(s.run.console);
}

std::string console_since_banner(Served& s) {
    console_drain(s.run, 20);
    return s.run.console_output.substr(s.console_mark);
}

std::string as_on_raw_console(const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (c == '\n') shown += '\r';
        shown += c;
    }
    return shown;
}

bool console_wait_tail(Served& s, const std::string& lf_text) {
    const std::string text = as_on_raw_console(lf_text);
    if (!console_wait_for(s.run, text)) return false;
    const std::string& out = s.run.console_output;
    return out.size() >= text.size() && out.compare(out.size() - text.size(), text.size(), text) == 0;
}

Wire& Wire::data(int byte) {
    byte &= 0xFF;
    if (byte == 0x02 || byte == 0x03 || byte == 0x10) bytes.push_back(0x10);
    bytes.push_back(static_cast<uint8_t>(byte));
    return *this;
}

Wire& Wire::data(const Bytes& b) {
    for (uint8_t x : b) data(x);
    return *this;
}

Wire& Wire::text(const std::string& s) {
    for (char c : s) data(static_cast<uint8_t>(c));
    return bare(0x03);
}

Wire& Wire::bare(int byte) {
    bytes.push_back(static_cast<uint8_t>(byte));
    return *this;
}

Wire& Wire::u16(uint32_t value) { return data(int(value >> 8)).data(int(value)); }

Wire& Wire::u32(uint32_t value) { return u16(value >> 16).u16(value & 0xFFFF); }

void request_raw(Served& s, const Bytes& after_stx) {
    line_write(s.run, {0x02});
    EXPECT_EQ(hex(line_read(s.run, 1)), "03 ") << "the host's ready answer";
    line_write(s.run, after_stx);
}

void request(Served& s, int code, const Wire& fields) {
    Wire w;
    w.data(code);
    w.bytes.insert(w.bytes.end(), fields.bytes.begin(), fields.bytes.end());
    request_raw(s, w.bytes);
}

std::string reply(Served& s, size_t n) { return hex(line_read(s.run, n)); }

Bytes file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& content) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

void expect_console(Served& s, const std::string& expected) {
    EXPECT_TRUE(console_wait_tail(s, expected));
    EXPECT_EQ(console_since_banner(s), as_on_raw_console(expected));
}

}  // namespace e2e
