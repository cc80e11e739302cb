// A faulty target against the real program: requests that break the C
// library's rules for streams must neither crash the host nor lose a byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "link/link.h"
#include "client/hostfs.h"
#include "tests/e2e_served.h"

using namespace e2e;
using namespace tolvane;

namespace {

uint32_t open_request(Served& s, const std::string& name, const std::string& mode) {
    request(s, 0, Wire().text(name).text(mode));
    return link_get_u32();  // decoded: a handle may hold bytes that travel escaped
}

}  // namespace

TEST(FaultyTarget, OutputAfterAPushBackLandsWhereThePushBackWas) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "faulty_push_back", false));
    // The crash: open, push back, then put character, write or put text.
    struct Case {
        std::string mode;
        int code;
        std::string before, after;  // the file's bytes
    } cases[] = {
        {"w", 5, "", "B"},      {"w+", 5, "", "B"},   {"r+", 5, "xyz", "Byz"},
        {"w+", 2, "", "B"},     {"r+", 2, "xyz", "Byz"}, {"w+", 7, "", "B"},
        {"r+", 7, "xyz", "Byz"},
    };
    for (const auto& c : cases) {
        const std::string what = c.mode + " code " + std::to_string(c.code);
        write_file(s.dir + "/f", bytes(c.before));
        const uint32_t h = open_request(s, "f", c.mode);
        ASSERT_NE(h, 0u) << what;
        request(s, 14, Wire().u16('A').u32(h));
        // A stream that cannot be read takes no push back.
        EXPECT_EQ(reply(s, 2), c.mode == "w" ? "FF FF " : "00 41 ") << what;
        if (c.code == 5) {
            request(s, 5, Wire().u32(h).u16('B'));
            EXPECT_EQ(reply(s, 2), "00 42 ") << what;
        } else if (c.code == 2) {
            request(s, 2, Wire().u32(h).data('B').bare(0x03));
        } else {
            request(s, 7, Wire().u32(h).text("B"));
            EXPECT_EQ(reply(s, 2).substr(0, 1), "0") << what << ": not EOF";
        }
        request(s, 3, Wire().u32(h));
        EXPECT_EQ(reply(s, 2), "00 00 ") << what;
        EXPECT_EQ(hex(file_bytes(s.dir + "/f")), hex(bytes(c.after))) << what;
    }
    finish(s);
}

TEST(FaultyTarget, PushBackAfterOutputIsRefusedAndTheByteStays) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "faulty_after_output", false));
    const uint32_t h = open_request(s, "f", "w");
    ASSERT_NE(h, 0u);
    request(s, 5, Wire().u32(h).u16('B'));
    EXPECT_EQ(reply(s, 2), "00 42 ");
    request(s, 14, Wire().u16('A').u32(h));
    EXPECT_EQ(reply(s, 2), "FF FF ");
    request(s, 3, Wire().u32(h));
    EXPECT_EQ(reply(s, 2), "00 00 ") << "close";
    EXPECT_EQ(hex(file_bytes(s.dir + "/f")), "42 ");

    // The same rules hold through the client library on an update stream:
    // reads and writes alternate without seeks in between.
    const host_file u = host_fopen("u.txt", "w+");
    ASSERT_NE(u, 0u);
    EXPECT_EQ(host_fputs("hello", u), 1);
    EXPECT_EQ(host_fgetc(u), EOF);
    EXPECT_EQ(host_fseek(u, 1, SEEK_SET), 0);
    EXPECT_EQ(host_fgetc(u), 'e');
    EXPECT_EQ(host_fputc('E', u), 'E');
    EXPECT_EQ(host_fgetc(u), 'l');
    EXPECT_EQ(host_fclose(u), 0);
    EXPECT_EQ(hex(file_bytes(s.dir + "/u.txt")), hex(bytes("heElo")));
    finish(s);
}

TEST(FaultyTarget, ModesOutsideTheStandardOnesOpenNothing) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "faulty_modes", false));
    for (const char* mode : {"w,ccs=UTF-8", "we", "wm", "", "rw", "w++", "rx"}) {
        EXPECT_EQ(open_request(s, "f", mode), 0u) << mode;
        struct stat st;
        EXPECT_NE(stat((s.dir + "/f").c_str(), &st), 0) << mode << ": a file was made";
    }
    // Reads and writes the mode does not allow fail as the C calls would.
    write_file(s.dir + "/r.txt", bytes("abc"));
    const host_file r = host_fopen("r.txt", "r");
    const host_file w = host_fopen("w.txt", "w");
    ASSERT_TRUE(r && w);
    EXPECT_EQ(host_fputc('x', r), EOF);
    EXPECT_EQ(host_fputs("x", r), EOF);
    host_fwrite("x", 1, r);
    char buf[8];
    EXPECT_EQ(host_fread(buf, 4, w), 0);
    EXPECT_EQ(host_fgetc(w), EOF);
    EXPECT_EQ(host_fgets(buf, sizeof buf, w), nullptr);
    EXPECT_EQ(host_fclose(r), 0);
    EXPECT_EQ(host_fclose(w), 0);
    EXPECT_EQ(hex(file_bytes(s.dir + "/r.txt")), hex(bytes("abc")));
    finish(s);
}

// A FIFO, a device: nothing the target names may stop the host. Each open
// and read is answered at once, and Ctrl-Q still ends the program (finish).
// Confined or not, the same.
TEST(FaultyTarget, NamesThatWouldBlockAreAnsweredAtOnce) {
    for (const bool confined : {false, true}) {
        Served s;
        ASSERT_NO_FATAL_FAILURE(serve(s, confined ? "faulty_fifo_d" : "faulty_fifo", false,
                                      confined ? std::vector<std::string>{"-d", "."} : std::vector<std::string>{},
                                      {}, [](const std::string& dir) { mkfifo((dir + "/fifo").c_str(), 0600); }));
        // No writer: a reader gets the end of the file, a writer no stream.
        const host_file r = host_fopen("fifo", "r");
        ASSERT_NE(r, 0u) << confined;
        char buf[8];
        EXPECT_EQ(host_fread(buf, sizeof buf, r), 0) << confined;
        EXPECT_EQ(host_fgetc(r), EOF) << confined;
        EXPECT_EQ(host_fgets(buf, sizeof buf, r), nullptr) << confined;
        // A writer that comes later: its bytes are read, the end of file
        // seen before does not stick.
        const int writer = open((s.dir + "/fifo").c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(writer, 0) << confined;
        ASSERT_EQ(write(writer, "late", 4), 4);
        EXPECT_EQ(host_fread(buf, sizeof buf, r), 4) << confined;
        EXPECT_EQ(std::string(buf, 4), "late") << confined;
        close(writer);
        EXPECT_EQ(host_fclose(r), 0) << confined;
        EXPECT_EQ(host_fopen("fifo", "w"), 0u) << confined;
        EXPECT_EQ(host_fopen("fifo", "a"), 0u) << confined;
        // Read and write on one end: the write that would block fails.
        const host_file both = host_fopen("fifo", "r+");
        ASSERT_NE(both, 0u) << confined;
        EXPECT_EQ(host_fgetc(both), EOF) << confined;
        EXPECT_EQ(host_fclose(both), 0) << confined;
        EXPECT_FALSE(target_timed_out()) << confined;
        finish(s);
    }
}

// Every append mode starts at the end, confined or not: a target that opens
// its log with "a" and asks for its size gets the size.
TEST(FaultyTarget, AppendStartsAtTheEnd) {
    for (const bool confined : {false, true}) {
        Served s;
        ASSERT_NO_FATAL_FAILURE(serve(s, confined ? "append_d" : "append", false,
                                      confined ? std::vector<std::string>{"-d", "."} : std::vector<std::string>{}));
        for (const char* mode : {"a", "ab", "a+", "a+b"}) {
            const std::string what = std::string(mode) + (confined ? " -d" : "");
            write_file(s.dir + "/log", bytes("0123456789"));
            const host_file f = host_fopen("log", mode);
            ASSERT_NE(f, 0u) << what;
            EXPECT_EQ(host_ftell(f), 10) << what;
            EXPECT_EQ(host_fseek(f, -4, SEEK_CUR), 0) << what;
            EXPECT_EQ(host_ftell(f), 6) << what;
            EXPECT_GE(host_fputs("ab", f), 0) << what;
            EXPECT_EQ(host_fclose(f), 0) << what;
            EXPECT_EQ(hex(file_bytes(s.dir + "/log")), hex(bytes("0123456789ab"))) << what << ": writes at the end";
        }
        finish(s);
    }
}
