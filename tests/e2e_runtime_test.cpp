// The requests beyond the streams through the real program, the test as
// the target: stat, fstat, mkdir, rmdir, the time and the version with
// their trace, beneath -d and under -p; and the target's exit status
// ending a run without a terminal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>

#include "client/hostfs.h"
#include "tests/e2e_served.h"

using namespace e2e;
using namespace tolvane;

namespace {

bool is_directory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long host_seconds_now() {
    timeval now;
    gettimeofday(&now, nullptr);
    return now.tv_sec;
}

}  // namespace

// The bytes of docs/protocol.md's examples.
TEST(Runtime, VersionAndStatOnTheWire) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "rt_version", true));
    request(s, 15, Wire());
    EXPECT_EQ(reply(s, 6), "00 01 00 3F FF FF ") << "version 1, codes 0 to 21";
    write_file(s.dir + "/a.txt", Bytes(16, 'a'));
    const timeval changed[2] = {{1700000000, 0}, {1700000000, 0}};
    ASSERT_EQ(utimes((s.dir + "/a.txt").c_str(), changed), 0);
    request(s, 16, Wire().text("a.txt"));  // the code goes out as 10 10
    EXPECT_EQ(reply(s, 13), "00 00 00 01 00 00 00 10 10 65 53 F1 00 ");
    expect_console(s, "version() = 1 3fffff\nstat(a.txt) = 0 file 16\n");
    finish(s);
}

TEST(Runtime, StatMkdirRmdirAndTimeOnHostFiles) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "rt_files", true));
    host_forget_host();
    write_file(s.dir + "/16.bin", Bytes(16, 'x'));
    struct stat on_host;
    ASSERT_EQ(stat((s.dir + "/16.bin").c_str(), &on_host), 0);

    host_status status{};
    ASSERT_EQ(host_stat("16.bin", &status), 0);
    EXPECT_EQ(status.kind, HOST_KIND_FILE);
    EXPECT_EQ(status.size, 16u);
    EXPECT_EQ(status.modified, static_cast<uint32_t>(on_host.st_mtime));
    EXPECT_EQ(host_stat("none", &status), HOST_ENOENT);
    EXPECT_EQ(host_stat("16.bin/x", &status), HOST_ENOTDIR);

    // Directories made, found, refused and removed.
    EXPECT_EQ(host_mkdir("made"), 0);
    EXPECT_TRUE(is_directory(s.dir + "/made"));
    EXPECT_EQ(host_mkdir("made"), HOST_EEXIST);
    EXPECT_EQ(host_mkdir("none/sub"), HOST_ENOENT);
    ASSERT_EQ(host_stat("made", &status), 0);
    EXPECT_EQ(status.kind, HOST_KIND_DIRECTORY);
    write_file(s.dir + "/made/f", bytes("f"));
    EXPECT_EQ(host_rmdir("made"), HOST_ENOTEMPTY);
    EXPECT_EQ(host_rmdir("16.bin"), HOST_ENOTDIR);
    EXPECT_EQ(host_remove("made/f"), 0);
    EXPECT_EQ(host_rmdir("made"), 0);
    EXPECT_FALSE(is_directory(s.dir + "/made"));
    EXPECT_EQ(host_rmdir("made"), HOST_ENOENT);

    // fstat counts what the host still holds for the stream.
    const host_file f = host_fopen("w.txt", "w");
    ASSERT_NE(f, 0u);
    EXPECT_GE(host_fputs("hello", f), 0);
    ASSERT_EQ(host_fstat(f, &status), 0);
    EXPECT_EQ(status.kind, HOST_KIND_FILE);
    EXPECT_EQ(status.size, 5u);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(host_fstat(f, &status), HOST_EBADF) << "closed";

    uint32_t seconds = 0, microseconds = 0;
    const long before = host_seconds_now();
    ASSERT_EQ(host_time(&seconds, &microseconds), 0);
    EXPECT_GE(static_cast<long>(seconds), before);
    EXPECT_LE(static_cast<long>(seconds), host_seconds_now());
    EXPECT_LT(microseconds, 1000000u);

    const std::string shown = console_since_banner(s);
    for (const char* line : {"version() = 1 3fffff\r\n", "stat(16.bin) = 0 file 16\r\n", "stat(none) = -2\r\n",
                             "mkdir(made) = 0\r\n", "mkdir(made) = -3\r\n", "rmdir(made) = -5\r\n",
                             "stat(made) = 0 directory ", "fstat(", ") = 0 file 5\r\n", ") = -12\r\n", "time() = "})
        EXPECT_NE(shown.find(line), std::string::npos) << line << "\n" << shown;
    finish(s);
}

// Names are confined as every request's: beneath -d the root is "/", and
// nothing outside is seen or made; -p refuses mkdir and rmdir.
// tolvane-walk resolves the names by its own walk, as where the kernel has
// no openat2.
TEST(Runtime, NamesStayBeneathTheRootAndReadOnlyRefusesChanges) {
    for (bool walk : {false, true}) {
        SCOPED_TRACE(walk ? "tolvane-walk" : "tolvane");
        const std::string program = walk ? tolvane_walk_path() : "";
        const auto lay_out = [](const std::string& dir) {
            mkdir((dir + "/board").c_str(), 0755);
            mkdir((dir + "/board/kept").c_str(), 0755);
            write_file(dir + "/outside.txt", bytes("secret"));
            symlink("../outside.txt", (dir + "/board/out").c_str());
        };
        Served s;
        ASSERT_NO_FATAL_FAILURE(
            serve(s, walk ? "rt_confine_walk" : "rt_confine", false, {"-d", "board"}, program, lay_out));
        host_forget_host();
        host_status status{};
        const struct {
            const char* name;
            int result;
        } stats[] = {
            {"/", 0}, {"C:\\kept", 0}, {"../outside.txt", HOST_ENOENT}, {"out", HOST_ENOENT}, {"../../kept", 0},
        };
        for (const auto& c : stats) EXPECT_EQ(host_stat(c.name, &status), c.result) << c.name;
        EXPECT_EQ(host_mkdir("../made"), 0);
        EXPECT_TRUE(is_directory(s.dir + "/board/made")) << "made beneath the root";
        EXPECT_FALSE(is_directory(s.dir + "/made"));
        EXPECT_EQ(host_mkdir("/"), HOST_EEXIST);
        EXPECT_EQ(host_rmdir("/"), HOST_EBUSY);
        EXPECT_EQ(host_rmdir("out"), HOST_ENOTDIR) << "the link itself, never where it leads";
        EXPECT_EQ(host_rmdir("C:\\made"), 0);
        finish(s);

        Served ro;
        ASSERT_NO_FATAL_FAILURE(
            serve(ro, walk ? "rt_read_only_walk" : "rt_read_only", false, {"-p", "-d", "board"}, program, lay_out));
        host_forget_host();
        EXPECT_EQ(host_mkdir("made"), HOST_EROFS);
        EXPECT_EQ(host_rmdir("kept"), HOST_EROFS);
        EXPECT_TRUE(is_directory(ro.dir + "/board/kept"));
        EXPECT_FALSE(is_directory(ro.dir + "/board/made"));
        EXPECT_EQ(host_stat("kept", &status), 0) << "stat changes nothing";
        finish(ro);
    }
}

// Without a terminal (keys from /dev/null) or with --expect, --fail or
// --timeout, the target's exit status ends tolvane with it; outside
// 0..255 with 255.
TEST(Runtime, ExitStatusEndsAHeadlessRun) {
    const struct {
        std::vector<std::string> args;
        bool stdin_null;
        int32_t status;
        int expected;
    } cases[] = {
        {{}, true, 3, 3},
        {{}, true, 0, 0},
        {{}, true, 300, 255},
        {{}, true, -1, 255},
        {{"--timeout", "30"}, false, 7, 7},
        {{"--expect", "never"}, false, 9, 9},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"-c", "{line}"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Options options;
        options.stdin_null = c.stdin_null;
        Session run = start(args, options);
        ASSERT_EQ(hex(line_read(run, 50)), hex(reset_sequence()));
        line_write(run, {0x02});
        ASSERT_EQ(hex(line_read(run, 1)), "03 ");
        line_write(run, Wire().data(21).u32(static_cast<uint32_t>(c.status)).bytes);
        EXPECT_EQ(exit_code(wait_exit(run)), c.expected) << c.status;
        close_all(run);
    }
}

// At a terminal the run goes on: the exit is told, and Ctrl-Q ends it.
TEST(Runtime, ExitStatusIsToldAtATerminal) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "rt_exit_told", false));
    line_write(s.run, bytes("bye"));
    request(s, 21, Wire().u32(3));
    expect_console(s, "bye\nthe board exited with status 3\n");
    finish(s);
}
