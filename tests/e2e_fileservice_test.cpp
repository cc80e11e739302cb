// The file service of the real program, with the test as the target: the
// exact bytes on the line where they matter, the client library elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <set>

#include "link/link.h"
#include "client/hostfs.h"
#include "tests/e2e_served.h"

using namespace e2e;
using namespace tolvane;

namespace {

const std::string unknown_code_message =
    "nicht implementierter RPC - \xC3\x9C"
    "bertragungsfehler oder\nTerminalprogramm ist nicht 'up-to-date'\n";

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string hexs(const std::string& s) { return hex(bytes(s)); }

// A handle as the trace shows it.
std::string hx(uint32_t handle) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", handle);
    return text;
}

}  // namespace

TEST(FileService, ReadSendsTheBytesAndEtxOnlyWhenShort) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_read", false));
    write_file(s.dir + "/four.bin", bytes("WXYZ"));
    write_file(s.dir + "/ctl.bin", {0x02, 0x10});
    const host_file four = host_fopen("four.bin", "rb");
    const host_file ctl = host_fopen("ctl.bin", "rb");
    ASSERT_NE(four, 0u);
    ASSERT_NE(ctl, 0u);

    // Code 1 sends the count before the handle.
    request(s, 1, Wire().u32(10).u32(four));
    EXPECT_EQ(reply(s, 5), "57 58 59 5A 03 ") << "four bytes, then ETX: fewer than asked";

    // An exact read ends with its last byte. Were an ETX behind it, the next
    // request would take it for the host's ready answer and its reply would
    // start one byte early.
    ASSERT_EQ(host_fseek(four, 0, SEEK_SET), 0);
    request(s, 1, Wire().u32(4).u32(four));
    EXPECT_EQ(reply(s, 4), "57 58 59 5A ");
    request(s, 12, Wire().u32(four));
    EXPECT_EQ(reply(s, 4), "00 00 00 04 ");

    // A count of 0 or below sends nothing at all and reads nothing.
    ASSERT_EQ(host_fseek(four, 1, SEEK_SET), 0);
    request(s, 1, Wire().u32(0).u32(four));
    request(s, 1, Wire().u32(0xFFFFFFFF).u32(four));
    request(s, 12, Wire().u32(four));
    EXPECT_EQ(reply(s, 4), "00 00 00 01 ");

    // The stream stands behind the last byte sent.
    request(s, 1, Wire().u32(2).u32(four));
    EXPECT_EQ(reply(s, 2), "58 59 ");
    request(s, 4, Wire().u32(four));
    EXPECT_EQ(reply(s, 2), "00 5A ");

    // Data bytes that look like control bytes travel escaped.
    request(s, 1, Wire().u32(2).u32(ctl));
    EXPECT_EQ(reply(s, 4), "10 02 10 10 ");
    request(s, 12, Wire().u32(ctl));
    EXPECT_EQ(reply(s, 5), "00 00 00 10 02 ");

    finish(s);
}

TEST(FileService, WriteTakesTheDataUpToItsEtxAndAnswersNothing) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_write", false));
    const host_file out = host_fopen("w.bin", "wb");
    ASSERT_NE(out, 0u);

    // Code 2 itself travels escaped (10 02). In the data, DLE ETX is the
    // byte 03 and a stray bare STX is the byte 02; the bare ETX ends it.
    request(s, 2, Wire().u32(out).data(0x41).bare(0x10).bare(0x03).data(0x42).bare(0x02).data(0x43).bare(0x03));
    // Bytes with the high bit set are never marks; DLE DLE is the byte 10.
    request(s, 2, Wire().u32(out).bare(0x10).bare(0x10).data({0x82, 0x83, 0xFF, 0x00}).bare(0x03));
    request(s, 2, Wire().u32(out).bare(0x03));  // no data at all

    // No reply to a write: the close's ready answer is the next byte.
    request(s, 3, Wire().u32(out));
    EXPECT_EQ(reply(s, 2), "00 00 ");
    EXPECT_EQ(hex(file_bytes(s.dir + "/w.bin")), "41 03 42 02 43 10 82 83 FF 00 ");

    finish(s);
}

TEST(FileService, CharactersLinesAndPushBack) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_chars", false));
    write_file(s.dir + "/line.txt", bytes("abc\nx\x02y\nend"));
    const host_file in = host_fopen("line.txt", "rb");
    ASSERT_NE(in, 0u);

    request(s, 4, Wire().u32(in));
    EXPECT_EQ(reply(s, 2), "00 61 ");
    // Push back: the character comes before the handle.
    request(s, 14, Wire().u16('Q').u32(in));
    EXPECT_EQ(reply(s, 2), "00 51 ");
    request(s, 4, Wire().u32(in));
    EXPECT_EQ(reply(s, 2), "00 51 ");
    // The fields the other way round name no stream, and push back nothing.
    request(s, 14, Wire().u32(in).u16('R'));
    EXPECT_EQ(reply(s, 2), "FF FF ");
    request(s, 4, Wire().u32(in));
    EXPECT_EQ(reply(s, 2), "00 62 ");

    // Get line: sizes 0, above 4096 and below 0 are refused without reading.
    ASSERT_EQ(host_fseek(in, 0, SEEK_SET), 0);
    for (uint32_t size : {0u, 4097u, 0xFFFFu}) {
        request(s, 6, Wire().u32(in).u16(size));
        EXPECT_EQ(reply(s, 2), "00 00 ") << "size " << size;
    }
    request(s, 6, Wire().u32(in).u16(100));
    EXPECT_EQ(reply(s, 7), "00 01 61 62 63 0A 03 ");
    request(s, 6, Wire().u32(in).u16(100));
    EXPECT_EQ(reply(s, 8), "00 01 78 10 02 79 0A 03 ");
    request(s, 6, Wire().u32(in).u16(100));
    EXPECT_EQ(reply(s, 6), "00 01 65 6E 64 03 ") << "the last line has no newline";
    request(s, 6, Wire().u32(in).u16(100));
    EXPECT_EQ(reply(s, 2), "00 00 ") << "end of file";
    // A size of n takes at most n - 1 bytes; 4096 is the largest taken.
    ASSERT_EQ(host_fseek(in, 0, SEEK_SET), 0);
    request(s, 6, Wire().u32(in).u16(3));
    EXPECT_EQ(reply(s, 5), "00 01 61 62 03 ");
    request(s, 6, Wire().u32(in).u16(4096));
    EXPECT_EQ(reply(s, 5), "00 01 63 0A 03 ");
    request(s, 6, Wire().u32(in).u16(1));
    EXPECT_EQ(reply(s, 3), "00 01 03 ") << "size 1: an empty line";

    // A line longer than the host's 4096-byte buffer comes in pieces.
    write_file(s.dir + "/long.txt", Bytes(5000, 'a'));
    const host_file longer = host_fopen("long.txt", "rb");
    ASSERT_NE(longer, 0u);
    std::vector<char> piece(HOST_LINE_MAX + 1, 'x');
    ASSERT_NE(host_fgets(piece.data(), HOST_LINE_MAX, longer), nullptr);
    EXPECT_EQ(std::string(piece.data()), std::string(4095, 'a'));
    ASSERT_NE(host_fgets(piece.data(), HOST_LINE_MAX, longer), nullptr);
    EXPECT_EQ(std::string(piece.data()), std::string(905, 'a'));
    EXPECT_EQ(host_fgets(piece.data(), HOST_LINE_MAX, longer), nullptr);

    // Get character at the end of the file.
    ASSERT_EQ(host_fseek(in, 0, SEEK_END), 0);
    request(s, 4, Wire().u32(in));
    EXPECT_EQ(reply(s, 2), "FF FF ");

    // Put character: the handle, then the character; the reply is the byte.
    const host_file out = host_fopen("p.bin", "wb");
    ASSERT_NE(out, 0u);
    request(s, 5, Wire().u32(out).u16('A'));
    EXPECT_EQ(reply(s, 2), "00 41 ");
    request(s, 5, Wire().u32(out).u16(0x02));
    EXPECT_EQ(reply(s, 3), "00 10 02 ");
    request(s, 5, Wire().u32(out).u16(0xE9));
    EXPECT_EQ(reply(s, 2), "00 E9 ");
    EXPECT_EQ(host_fclose(out), 0);
    EXPECT_EQ(hex(file_bytes(s.dir + "/p.bin")), "41 02 E9 ");

    finish(s);
}

TEST(FileService, SeekTellPutTextRemoveRename) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_seek", false));
    const host_file f = host_fopen("s.txt", "w+");
    ASSERT_NE(f, 0u);
    EXPECT_GE(host_fputs("hello, ", f), 0);
    EXPECT_GE(host_fputs("world\n", f), 0);
    EXPECT_GE(host_fputs("", f), 0);
    EXPECT_EQ(host_ftell(f), 13);

    EXPECT_EQ(host_fseek(f, 7, SEEK_SET), 0);
    EXPECT_EQ(host_fgetc(f), 'w');
    EXPECT_EQ(host_ftell(f), 8);
    EXPECT_EQ(host_fseek(f, 3, SEEK_CUR), 0);
    EXPECT_EQ(host_fgetc(f), 'd');
    EXPECT_EQ(host_fseek(f, -3, SEEK_END), 0);
    EXPECT_EQ(host_ftell(f), 10);
    EXPECT_EQ(host_fgetc(f), 'l');
    // Past the end is allowed; before the start and unknown origins are not.
    EXPECT_EQ(host_fseek(f, 100000, SEEK_SET), 0);
    EXPECT_EQ(host_ftell(f), 100000);
    EXPECT_EQ(host_fseek(f, -1, SEEK_SET), -1);
    EXPECT_EQ(host_fseek(f, 0, 7), -1);
    EXPECT_EQ(host_ftell(f), 100000);
    // Put text overwrites in the middle; control bytes pass.
    EXPECT_EQ(host_fseek(f, 0, SEEK_SET), 0);
    EXPECT_GE(host_fputs("J\x02\x03\x10", f), 0);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(hex(file_bytes(s.dir + "/s.txt")), hexs("J\x02\x03\x10o, world\n"));

    // A text of 79 bytes, the longest field, arrives whole.
    const std::string longest(79, 'L');
    const host_file g = host_fopen("long.txt", "w");
    ASSERT_NE(g, 0u);
    EXPECT_GE(host_fputs(longest.c_str(), g), 0);
    EXPECT_EQ(host_fclose(g), 0);
    EXPECT_EQ(file_bytes(s.dir + "/long.txt"), bytes(longest));

    EXPECT_EQ(host_rename("s.txt", "t.txt"), 0);
    EXPECT_FALSE(exists(s.dir + "/s.txt"));
    EXPECT_TRUE(exists(s.dir + "/t.txt"));
    EXPECT_EQ(host_rename("s.txt", "u.txt"), -1) << "no such file";
    EXPECT_FALSE(exists(s.dir + "/u.txt"));

    EXPECT_EQ(host_remove("t.txt"), 0);
    EXPECT_FALSE(exists(s.dir + "/t.txt"));
    EXPECT_EQ(host_remove("t.txt"), -1) << "already gone";
    EXPECT_EQ(host_fopen("t.txt", "r"), 0u);

    finish(s);
}

TEST(FileService, UnknownCodesPrintTheMessageAndReadNothingMore) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_unknown", false));
    write_file(s.dir + "/four.bin", bytes("WXYZ"));
    const host_file four = host_fopen("four.bin", "rb");
    ASSERT_NE(four, 0u);

    std::string expected;
    // Code 0x7F, the same escaped, a byte far out, and a bare STX where the
    // code belongs: each prints the message, with or without the trace.
    for (const Bytes& code : {Bytes{0x7F}, Bytes{0x10, 0x7F}, Bytes{0xFF}, Bytes{0x02}}) {
        request_raw(s, code);
        expected += unknown_code_message;
        ASSERT_TRUE(console_wait_tail(s, expected)) << hex(code) << console_since_banner(s);
        // Nothing was sent back: the next request's answer comes first.
        request(s, 12, Wire().u32(four));
        EXPECT_EQ(reply(s, 4), "00 00 00 00 ");
    }
    // What the target sends after the code is terminal text again.
    request_raw(s, {0x7F});
    line_write(s.run, bytes("after"));
    expected += unknown_code_message + "after";
    EXPECT_TRUE(console_wait_tail(s, expected));

    // A close whose code lost its DLE: the bare ETX is no close. The handle
    // bytes reach the console, and the stream stays open.
    request_raw(s, Wire().bare(0x03).u32(four).bytes);
    expected += unknown_code_message + be32(four);
    expect_console(s, expected);
    EXPECT_EQ(host_fgetc(four), 'W');
    EXPECT_EQ(host_fclose(four), 0);

    finish(s);
}

TEST(FileService, DriveLetterNamesBecomeHostPaths) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_drive", true));
    mkdir((s.dir + "/sub").c_str(), 0755);
    std::string dos_dir = "C:" + s.dir;
    for (char& c : dos_dir) c = c == '/' ? '\\' : c;
    ASSERT_LE(dos_dir.size() + 10, 79u) << "the scratch directory's path is too long for a name field";

    const host_file f = host_fopen((dos_dir + "\\X.DAT").c_str(), "w");
    ASSERT_NE(f, 0u);
    EXPECT_GE(host_fputs("C:\\not\\a\\name", f), 0) << "text is not a name";
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_bytes(s.dir + "/X.DAT"), bytes("C:\\not\\a\\name"));

    EXPECT_EQ(host_rename((dos_dir + "\\X.DAT").c_str(), "D:sub\\Y.DAT"), 0);
    EXPECT_TRUE(exists(s.dir + "/sub/Y.DAT"));
    host_find_record r{};
    EXPECT_EQ(host_findfirst("c:sub\\*.DAT", 0, &r), 0);
    EXPECT_STREQ(r.name, "Y.DAT");
    EXPECT_EQ(host_remove((dos_dir + "\\sub\\Y.DAT").c_str()), 0);
    EXPECT_FALSE(exists(s.dir + "/sub/Y.DAT"));

    // Without a drive letter a backslash is an ordinary character.
    const host_file g = host_fopen("sub\\Z.DAT", "w");
    EXPECT_NE(g, 0u);
    EXPECT_TRUE(exists(s.dir + "/sub\\Z.DAT"));
    EXPECT_EQ(host_fclose(g), 0);

    // The trace shows the names as the host used them.
    const std::string expected = "fopen(" + s.dir + "/X.DAT,w) = " + hx(f) + "\n" +
                                 "fputs(C:\\not\\a\\name)\n"
                                 "fclose(" + hx(f) + ") = 0\n"
                                 "rename(" + s.dir + "/X.DAT,sub/Y.DAT)\n"
                                 "findfirst(sub/*.DAT,0) = 0 Y.DAT 0\n"
                                 "remove(" + s.dir + "/sub/Y.DAT)\n"
                                 "fopen(sub\\Z.DAT,w) = " + hx(g) + "\n"
                                 "fclose(" + hx(g) + ") = 0\n";
    expect_console(s, expected);

    finish(s);
}

// One sequence of requests, with the trace on and off. Only open, read,
// write, close, put text, remove, rename and the search print.
TEST(FileService, TraceLinesWithTheirExactFormats) {
    for (bool trace : {true, false}) {
        SCOPED_TRACE(trace ? "with -r" : "without -r");
        Served s;
        ASSERT_NO_FATAL_FAILURE(serve(s, trace ? "fs_trace_on" : "fs_trace_off", trace));
        write_file(s.dir + "/four.bin", bytes("WXYZ"));
        std::string expected;

        // Eleven streams open at once, and one more below: twelve handles,
        // all different and not 0, so one at least tells hex from decimal.
        std::set<host_file> handles;
        host_file h = 0;
        for (int i = 1; i <= 11; ++i) {
            h = host_fopen("four.bin", "r");
            ASSERT_NE(h, 0u);
            handles.insert(h);
            expected += "fopen(four.bin,r) = " + hx(h) + "\n";
        }
        char buf[16];
        EXPECT_EQ(host_fread(buf, 10, h), 4);
        expected += "fread(" + hx(h) + ",10) = 4\n";
        EXPECT_EQ(host_fread(buf, 3, 0xABCDEF01), 0);
        expected += "fread(abcdef01,3) = 0\n";
        EXPECT_EQ(host_fopen("missing.txt", "r"), 0u);
        expected += "fopen(missing.txt,r) = 0\n";
        // Control characters in a traced text keep the request on one line.
        EXPECT_EQ(host_fopen("bad\rname", "r"), 0u);
        expected += "fopen(bad\\rname,r) = 0\n";
        host_fputs("one\ntwo\t\x01", h);
        expected += "fputs(one\\ntwo\\t\\x01)\n";

        const host_file w = host_fopen("out.txt", "w+");
        ASSERT_NE(w, 0u);
        handles.insert(w);
        EXPECT_EQ(handles.size(), 12u);
        expected += "fopen(out.txt,w+) = " + hx(w) + "\n";
        host_fwrite("data ", 5, w);
        expected += "fwrite(" + hx(w) + ")\n";
        EXPECT_GE(host_fputs("a text", w), 0);
        expected += "fputs(a text)\n";
        EXPECT_EQ(host_fputc('!', w), '!');
        expected += "fputc(33," + hx(w) + ") = 33\n";
        EXPECT_EQ(host_fseek(w, 0, SEEK_SET), 0);
        expected += "fseek(" + hx(w) + ",0,0) = 0\n";
        EXPECT_EQ(host_fgetc(w), 'd');
        expected += "fgetc(" + hx(w) + ") = 100\n";
        EXPECT_EQ(host_ungetc('D', w), 'D');
        expected += "ungetc(68," + hx(w) + ") = 68\n";
        EXPECT_EQ(host_ftell(w), 0);
        expected += "ftell(" + hx(w) + ") = 0\n";
        char line[32];
        EXPECT_STREQ(host_fgets(line, sizeof line, w), "Data a text!");
        expected += "fgets(32," + hx(w) + ") = 12\n";
        EXPECT_EQ(host_fclose(w), 0);
        expected += "fclose(" + hx(w) + ") = 0\n";
        EXPECT_EQ(host_fclose(w), -1);
        expected += "fclose(" + hx(w) + ") = -1\n";

        EXPECT_EQ(host_rename("out.txt", "new.txt"), 0);
        expected += "rename(out.txt,new.txt)\n";
        EXPECT_EQ(host_remove("new.txt"), 0);
        expected += "remove(new.txt)\n";
        host_find_record r{};
        EXPECT_EQ(host_findfirst("*.bin", 0x16, &r), 0);
        expected += "findfirst(*.bin,22) = 0 four.bin 0\n";
        EXPECT_EQ(host_findnext(&r), -1);
        expected += "findnext() = -1  0\n";

        // Terminal text after the last request: everything printed before it
        // is on the console by the time it shows.
        line_write(s.run, bytes("end"));
        expected = (trace ? expected : "") + "end";
        expect_console(s, expected);
        finish(s);
    }
}

// Handles that name no stream: never opened, the failed open's 0, and one
// that was closed. No C function sees them; each request gets its error
// reply and the stream of requests stays in step.
// A handle as it travels, unescaped.
std::string big_endian(uint32_t value) {
    std::string b;
    for (int shift = 24; shift >= 0; shift -= 8) b += static_cast<char>((value >> shift) & 0xFF);
    return b;
}

TEST(FileService, HandlesThatNameNoStream) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_dead", true));
    write_file(s.dir + "/live.txt", bytes("live"));
    const host_file live = host_fopen("live.txt", "r");
    const host_file closed = host_fopen("closed.txt", "w");
    ASSERT_NE(closed, 0u);
    EXPECT_GE(host_fputs("kept", closed), 0);
    EXPECT_EQ(host_fclose(closed), 0);
    // Handles are not used again: a newer stream is not reached by the old one.
    const host_file newer = host_fopen("live.txt", "r");
    EXPECT_NE(newer, closed);
    ASSERT_NE(live, 0u);
    ASSERT_NE(newer, 0u);
    std::string expected = "fopen(live.txt,r) = " + hx(live) + "\nfopen(closed.txt,w) = " + hx(closed) +
                           "\nfputs(kept)\nfclose(" + hx(closed) + ") = 0\nfopen(live.txt,r) = " + hx(newer) + "\n";

    for (uint32_t dead : {0x12345678u, 0u, closed}) {
        SCOPED_TRACE(dead);
        const std::string h = hx(dead);
        request(s, 1, Wire().u32(5).u32(dead));
        EXPECT_EQ(reply(s, 1), "03 ") << "read: only the ETX";
        request(s, 1, Wire().u32(0).u32(dead));  // nothing at all
        expected += "fread(" + h + ",5) = 0\nfread(" + h + ",0) = 0\n";
        // No reply is owed for a write: one to a handle that names nothing
        // is no request, and all of it shows as text.
        request(s, 2, Wire().u32(dead).data(bytes("shown \x02\x03")).bare(0x03));
        expected += std::string("\x02\x02") + big_endian(dead) + "shown \x02\x03\x03";
        for (int i = 0; i < 2; ++i) {
            request(s, 3, Wire().u32(dead));
            EXPECT_EQ(reply(s, 2), "FF FF ") << "close";
            expected += "fclose(" + h + ") = -1\n";
        }
        request(s, 4, Wire().u32(dead));
        EXPECT_EQ(reply(s, 2), "FF FF ") << "get character";
        request(s, 5, Wire().u32(dead).u16('x'));
        EXPECT_EQ(reply(s, 2), "FF FF ") << "put character";
        request(s, 6, Wire().u32(dead).u16(100));
        EXPECT_EQ(reply(s, 2), "00 00 ") << "get line";
        request(s, 7, Wire().u32(dead).text("text"));
        EXPECT_EQ(reply(s, 2), "FF FF ") << "put text";
        request(s, 12, Wire().u32(dead));
        EXPECT_EQ(reply(s, 4), "FF FF FF FF ") << "tell";
        request(s, 13, Wire().u32(dead).u32(0).u16(SEEK_SET));
        EXPECT_EQ(reply(s, 2), "FF FF ") << "seek";
        request(s, 14, Wire().u16('x').u32(dead));
        EXPECT_EQ(reply(s, 2), "FF FF ") << "push back";
        expected += "fgetc(" + h + ") = -1\nfputc(120," + h + ") = -1\nfgets(100," + h + ") = -1\nfputs(text)\n" +
                    "ftell(" + h + ") = -1\nfseek(" + h + ",0,0) = -1\nungetc(120," + h + ") = -1\n";
    }

    // The live streams were not touched, nor the closed file.
    request(s, 12, Wire().u32(live));
    EXPECT_EQ(reply(s, 4), "00 00 00 00 ");
    EXPECT_EQ(host_fgetc(live), 'l');
    EXPECT_EQ(host_fgetc(newer), 'l');
    expected += "ftell(" + hx(live) + ") = 0\nfgetc(" + hx(live) + ") = 108\nfgetc(" + hx(newer) + ") = 108\n";
    EXPECT_EQ(file_bytes(s.dir + "/closed.txt"), bytes("kept"));
    expect_console(s, expected);

    finish(s);
}

TEST(FileService, MegabyteOfRandomBytesThereAndBack) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_mib", false));
    std::mt19937 random(4711);
    Bytes data(1 << 20);
    for (auto& b : data) b = static_cast<uint8_t>(random());

    const host_file out = host_fopen("big.bin", "wb");
    ASSERT_NE(out, 0u);
    const size_t chunk = 40000;  // not a divisor: the last write is short
    for (size_t at = 0; at < data.size(); at += chunk)
        host_fwrite(data.data() + at, static_cast<long>(std::min(chunk, data.size() - at)), out);
    EXPECT_EQ(host_fclose(out), 0);
    const Bytes on_disk = file_bytes(s.dir + "/big.bin");
    EXPECT_EQ(on_disk.size(), data.size());
    EXPECT_TRUE(on_disk == data) << "the host file differs";

    const host_file in = host_fopen("big.bin", "rb");
    ASSERT_NE(in, 0u);
    Bytes back(data.size() + chunk);
    size_t got = 0;
    for (long n; (n = host_fread(back.data() + got, static_cast<long>(chunk), in)) > 0;) got += static_cast<size_t>(n);
    back.resize(got);
    EXPECT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data) << "what came back differs";
    EXPECT_EQ(host_fclose(in), 0);

    finish(s);
}

// Read data leaves in blocks of 16384 bytes and write data is taken a read
// of the line at a time: marks on either side of those edges travel
// escaped, and a count or an ETX beyond them is kept exactly.
TEST(FileService, DataAcrossTheBlockEdgesKeepsEveryByte) {
    struct Case {
        const char* name;
        size_t file_size;
        std::vector<size_t> marks;  // where the file holds 0x02, 0x03, 0x10 in turn
        int32_t asked;
    } cases[] = {
        {"a mark on each side of the first edge", 16385, {16383, 16384}, 16385},
        {"a short read ending just past the second edge", 32769, {16384, 32767, 32768}, 40000},
        {"marks at the line's read sizes", 40000, {4095, 4096, 8191, 16383, 16384, 16385, 39999}, 40000},
    };
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_blocks", true));
    std::string expected;
    for (const Case& c : cases) {
        Bytes content(c.file_size);
        for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(0x20 + i % 200);
        const uint8_t mark_bytes[] = {0x02, 0x03, 0x10};
        for (size_t i = 0; i < c.marks.size(); ++i) content[c.marks[i]] = mark_bytes[i % 3];

        const host_file out = host_fopen("edges.bin", "wb");
        ASSERT_NE(out, 0u) << c.name;
        request(s, 2, Wire().u32(out).data(content).bare(0x03));
        EXPECT_EQ(host_fclose(out), 0) << c.name;
        EXPECT_TRUE(file_bytes(s.dir + "/edges.bin") == content) << c.name << ": the file written";

        const host_file in = host_fopen("edges.bin", "rb");
        ASSERT_NE(in, 0u) << c.name;
        Wire sent;
        sent.data(Bytes(content.begin(), content.begin() + std::min<long>(c.asked, long(content.size()))));
        if (size_t(c.asked) > content.size()) sent.bare(0x03);
        request(s, 1, Wire().u32(uint32_t(c.asked)).u32(in));
        EXPECT_TRUE(reply(s, sent.bytes.size()) == hex(sent.bytes)) << c.name << ": the read's reply";
        EXPECT_EQ(host_fclose(in), 0) << c.name;
        const std::string h = hx(in), w = hx(out);
        expected += "fopen(edges.bin,wb) = " + w + "\nfwrite(" + w + ")\nfclose(" + w + ") = 0\n";
        expected += "fopen(edges.bin,rb) = " + h + "\nfread(" + h + "," + std::to_string(c.asked) + ") = " +
                    std::to_string(std::min<size_t>(size_t(c.asked), content.size())) + "\nfclose(" + h + ") = 0\n";
    }
    expect_console(s, expected);
    EXPECT_TRUE(line_drain(s.run, 100).empty()) << "nothing more on the line";
    finish(s);
}

// A string field keeps 79 bytes. The rest of an overlong one, and its ETX,
// are left in the stream and reach the console as terminal input.
// A text longer than its buffer fails its request without any effect, and
// the request is read to its end, so the next one is served as usual.
// A string past its field's limit (79 bytes; 4095 for put text) is no
// request: noise, such as boot text that held an STX and a code. What was
// read of it shows as text at once, the rest follows as text, nothing is
// answered, no file changes, and the line stays in step.
TEST(FileService, OverlongStringsAreShownAsTheTextTheyAre) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "fs_overlong", true, {}, {}, [](const std::string& dir) {
        write_file(dir + "/" + std::string(79, 'x'), bytes("precious"));
    }));
    const std::string x79(79, 'x');
    const struct {
        int code;
        Wire fields;
        std::string shown;  // the console's bytes, STX and code first
    } cases[] = {
        {0, Wire().text(x79 + "w").text("r"), "\x02" + std::string(1, '\0') + x79 + "w\x03r\x03"},
        {10, Wire().text(x79 + "y"), "\x02\x0a" + x79 + "y\x03"},
        {11, Wire().text(x79).text(std::string(100, 'b')),
         "\x02\x0b" + x79 + "\x03" + std::string(100, 'b') + "\x03"},
        {8, Wire().text(std::string(80, '*')).u16(0), "\x02\x08" + std::string(80, '*') + "\x03" + std::string(2, '\0')},
    };
    std::string expected;  // the target's bytes exactly: a code 10 is an LF
    for (const auto& c : cases) {
        request(s, c.code, c.fields);
        expected += c.shown;
        ASSERT_TRUE(console_wait_for(s.run, expected)) << c.code;
    }
    EXPECT_EQ(console_since_banner(s), expected);
    EXPECT_TRUE(line_drain(s.run, 100).empty()) << "nothing answered";
    EXPECT_EQ(file_bytes(s.dir + "/" + x79), bytes("precious")) << "no file changed";

    // 79 bytes is a whole name, its ETX taken with it.
    request(s, 0, Wire().text(x79).text("r"));
    EXPECT_NE(reply(s, 4), "00 00 00 00 ");

    // Put text takes the whole text buffer, 4095 bytes; one more is noise.
    const host_file f = host_fopen("p.txt", "w");
    ASSERT_NE(f, 0u);
    request(s, 7, Wire().u32(f).text(std::string(4095, 'a')));
    EXPECT_NE(reply(s, 2), "FF FF ");
    request(s, 7, Wire().u32(f).text(std::string(4096, 'b')));
    ASSERT_TRUE(console_wait_for(s.run, std::string(4096, 'b') + "\x03"));
    EXPECT_TRUE(line_drain(s.run, 100).empty()) << "nothing answered";
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_bytes(s.dir + "/p.txt"), Bytes(4095, 'a'));
    finish(s);
}
