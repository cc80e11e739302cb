// A faulty target against the real program: requests that break the C
// library's rules for streams must neither crash the host nor lose a byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
