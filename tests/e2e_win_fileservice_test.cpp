// tolvane-win under Wine serving the file service: the test is the target
// and works on the program's directory through the target library.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "client/hostfs.h"
#include "tests/win_harness.h"

using namespace win_e2e;
using namespace tolvane;
using pty_io::file_text;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The program running with -r on its own port and directory, the reset read.
class WinFileService : public testing::Test {
protected:
    void SetUp() override {
        dir = scratch_dir("win-fileservice");
        line = line_open(44);
        run = start({"-r", "-c", "COM44"}, dir);
        ASSERT_TRUE(output_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.output << run.errors;
        ASSERT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
        target_attach(line);
        run.output.clear();
    }
    void TearDown() override {
        EXPECT_FALSE(target_timed_out()) << "the program stopped answering";
        kill_run(run);
        line_close(line);
    }

    // Trace and messages printed so far, with Unix newlines.
    std::string printed() {
        output_collect(run);
        return dos_newlines_to_unix(run.output);
    }

    std::string dir;
    Line line;
    Program run;
};

}  // namespace

TEST_F(WinFileService, WritesReadsSeeksAndCloses) {
    const std::string data = std::string("ab\x02\x03\x10") + "\xFF" + "\n";
    host_file f = host_fopen("data.bin", "wb");
    ASSERT_NE(f, 0u);
    host_fwrite(data.data(), static_cast<long>(data.size()), f);
    EXPECT_EQ(host_fputc('z', f), 'z');
    EXPECT_EQ(host_fputs("tail\n", f), 0);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_text(dir + "/data.bin"), data + "z" + "tail\n") << "binary mode: bytes as sent";

    f = host_fopen("data.bin", "rb");
    ASSERT_NE(f, 0u);
    char buf[64] = {};
    EXPECT_EQ(host_fread(buf, 5, f), 5);
    EXPECT_EQ(std::string(buf, 5), data.substr(0, 5));
    EXPECT_EQ(host_ftell(f), 5);
    EXPECT_EQ(host_fseek(f, -2, SEEK_END), 0);
    EXPECT_EQ(host_fgetc(f), 'l');
    EXPECT_EQ(host_ungetc('L', f), 'L');
    EXPECT_EQ(host_fgetc(f), 'L');
    EXPECT_EQ(host_fgetc(f), '\n');
    EXPECT_EQ(host_fgetc(f), -1) << "end of file";
    EXPECT_EQ(host_fseek(f, 5, SEEK_SET), 0);
    EXPECT_EQ(host_fread(buf, 40, f), 8) << "a short read ends early";
    EXPECT_EQ(std::string(buf, 8), "\xFF\nztail\n");
    EXPECT_EQ(host_fseek(f, 7, SEEK_SET), 0);
    ASSERT_NE(host_fgets(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "ztail\n");
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(host_fclose(f), -1) << "a closed handle names nothing";

    EXPECT_EQ(host_fopen("missing.txt", "r"), 0u);

    const std::string out = printed();
    EXPECT_NE(out.find("fopen(data.bin,wb) = "), std::string::npos) << out;
    EXPECT_NE(out.find("fopen(missing.txt,r) = 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("fputs(tail\\n)\n"), std::string::npos) << "one trace line, the newline escaped: " << out;
    EXPECT_NE(out.find(") = 8\n"), std::string::npos) << "fread trace: " << out;
}

TEST_F(WinFileService, TakesNamesAsSentWithBackslashes) {
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    host_file f = host_fopen("sub\\inner.txt", "wb");
    ASSERT_NE(f, 0u);
    EXPECT_EQ(host_fputs("x", f), 0);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_text(dir + "/sub/inner.txt"), "x");

    EXPECT_EQ(host_rename("sub\\inner.txt", "sub\\moved.txt"), 0);
    EXPECT_FALSE(exists(dir + "/sub/inner.txt"));
    EXPECT_TRUE(exists(dir + "/sub/moved.txt"));
    EXPECT_EQ(host_remove("sub\\moved.txt"), 0);
    EXPECT_FALSE(exists(dir + "/sub/moved.txt"));
    EXPECT_NE(host_remove("sub\\moved.txt"), 0) << "already gone";

    const std::string out = printed();
    EXPECT_NE(out.find("rename(sub\\inner.txt,sub\\moved.txt)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("remove(sub\\moved.txt)\n"), std::string::npos) << out;
}

TEST_F(WinFileService, FindsWithTheRunTimesWildcards) {
    for (const char* name : {"one.txt", "TWO.TXT", "averyveryverylongname.txt", "skip.dat"}) {
        std::ofstream(dir + "/" + name) << "1234";
    }
    ASSERT_EQ(mkdir((dir + "/folder.txt").c_str(), 0755), 0);

    std::set<std::string> names;
    host_find_record r{};
    int result = host_findfirst("*.txt", 0x10, &r);
    while (result == 0) {
        names.insert(r.name);
        if (std::string(r.name) == "one.txt") {
            EXPECT_EQ(r.size, 4u);
            EXPECT_EQ(r.attributes & 0x10, 0);
            struct stat st;
            ASSERT_EQ(stat((dir + "/one.txt").c_str(), &st), 0);
            const std::tm* tm = std::localtime(&st.st_mtime);
            EXPECT_EQ(r.date, (tm->tm_year - 80) << 9 | (tm->tm_mon + 1) << 5 | tm->tm_mday);
            EXPECT_EQ(r.time, tm->tm_hour << 11 | tm->tm_min << 5 | tm->tm_sec / 2);
        }
        if (std::string(r.name) == "folder.txt") {
            EXPECT_EQ(r.attributes & 0x10, 0x10);
        }
        result = host_findnext(&r);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(names, (std::set<std::string>{"one.txt", "TWO.TXT", "averyveryvery", "folder.txt"}));
    EXPECT_EQ(host_findnext(&r), -1) << "the search ran out and was closed";

    // No match answers 1 here (the POSIX build answers -1); on the wire:
    line_write(line, {0x02});
    ASSERT_EQ(hex(line_read(line, 1)), "03 ");
    line_write(line, bytes(std::string("\x08*.none\x03\x00\x00", 10)));
    EXPECT_EQ(hex(line_read(line, 2)), "00 01 ");
    EXPECT_EQ(hex(line_drain(line, 200)), "") << "and no record";

    const std::string out = printed();
    EXPECT_NE(out.find("findfirst(*.txt,16) = 0 "), std::string::npos) << out;
    EXPECT_NE(out.find("findfirst(*.none,0) = 1 "), std::string::npos) << out;
}

// A UTF-8 name is the host's file by that name: made, opened, found and
// removed so; a file the host named is opened by its UTF-8 name.
TEST_F(WinFileService, Utf8NamesAreTheHostsNames) {
    const std::string ete = "\xC3\xA9t\xC3\xA9.txt";  // été.txt
    host_file f = host_fopen(ete.c_str(), "wb");
    ASSERT_NE(f, 0u);
    EXPECT_EQ(host_fputs("summer", f), 0);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_text(dir + "/" + ete), "summer");
    std::ofstream(dir + "/\xC3\xA7" "a.txt") << "host";  // ça.txt
    f = host_fopen("\xC3\xA7" "a.txt", "rb");
    ASSERT_NE(f, 0u);
    char buf[8] = {};
    EXPECT_EQ(host_fread(buf, 4, f), 4);
    EXPECT_EQ(std::string(buf, 4), "host");
    EXPECT_EQ(host_fclose(f), 0);
    std::set<std::string> names;
    host_find_record r{};
    for (int result = host_findfirst("*.txt", 0, &r); result == 0; result = host_findnext(&r)) names.insert(r.name);
    EXPECT_EQ(names, (std::set<std::string>{ete, "\xC3\xA7" "a.txt"}));
    EXPECT_EQ(host_remove(ete.c_str()), 0);
    EXPECT_FALSE(exists(dir + "/" + ete));
}

// Modes are the target's: without b the run-time's text mode, which writes
// LF as CR LF and reads CR LF as LF (tolvane has no text mode).
TEST_F(WinFileService, ModesAreKeptAsSent) {
    host_file f = host_fopen("text.txt", "w");
    ASSERT_NE(f, 0u);
    EXPECT_EQ(host_fputs("a\nb\n", f), 0);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_text(dir + "/text.txt"), "a\r\nb\r\n");
    f = host_fopen("text.txt", "r");
    ASSERT_NE(f, 0u);
    char buf[8] = {};
    EXPECT_EQ(host_fread(buf, 8, f), 4);
    EXPECT_EQ(std::string(buf, 4), "a\nb\n");
    EXPECT_EQ(host_fclose(f), 0);
}

// As many streams open at once as the target's library can hold on POSIX.
TEST_F(WinFileService, AThousandStreamsOpenAtOnce) {
    std::vector<host_file> open;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "s" + std::to_string(i);
        const host_file f = host_fopen(name.c_str(), "wb");
        if (f == 0) break;
        open.push_back(f);
        if (i % 100 == 99) output_collect(run, 10);  // the trace's pipe never fills
    }
    EXPECT_EQ(open.size(), 1000u);
    for (size_t i = 0; i < open.size(); ++i) {
        EXPECT_EQ(host_fclose(open[i]), 0);
        if (i % 100 == 99) output_collect(run, 10);
    }
}

TEST_F(WinFileService, BadArgumentsFromTheTargetFailWithoutEndingTheProgram) {
    // The C run-time takes these as invalid parameters.
    EXPECT_EQ(host_fopen("bad.txt", "z"), 0u);
    EXPECT_EQ(host_fopen("bad.txt", ""), 0u);
    host_file f = host_fopen("ok.txt", "wb");
    ASSERT_NE(f, 0u);
    EXPECT_EQ(host_fseek(f, 0, 7), -1);
    EXPECT_EQ(host_fseek(f, 0, -1), -1);
    EXPECT_EQ(host_fputs("still here", f), 0);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_text(dir + "/ok.txt"), "still here");
}

TEST_F(WinFileService, UnknownRequestPrintsTheGermanMessageInCodePage437) {
    line_write(line, {0x02});
    ASSERT_EQ(hex(line_read(line, 1)), "03 ");
    line_write(line, {0x7F});  // no such request
    EXPECT_TRUE(output_wait_for(run, "up-to-date"));
    EXPECT_EQ(dos_newlines_to_unix(run.output),
              "nicht implementierter RPC - \x9A"
              "bertragungsfehler oder\nTerminalprogramm ist nicht 'up-to-date'\n");
    EXPECT_EQ(hex(line_drain(line, 200)), "") << "nothing is answered";
    // The program goes on serving.
    EXPECT_EQ(host_fopen("missing.txt", "rb"), 0u);
}

// The requests beyond the streams from the Windows calls: kinds from the
// attributes, sizes, and times from FILETIMEs as seconds since 1970.
TEST_F(WinFileService, StatMkdirRmdirAndTheTime) {
    host_forget_host();
    {
        std::ofstream(dir + "/16.bin", std::ios::binary) << std::string(16, 'x');
    }
    struct stat on_host;
    ASSERT_EQ(stat((dir + "/16.bin").c_str(), &on_host), 0);
    host_status status{};
    ASSERT_EQ(host_stat("16.bin", &status), 0);
    EXPECT_EQ(status.kind, HOST_KIND_FILE);
    EXPECT_EQ(status.size, 16u);
    EXPECT_EQ(status.modified, static_cast<uint32_t>(on_host.st_mtime));
    EXPECT_EQ(host_stat("none.txt", &status), HOST_ENOENT);

    EXPECT_EQ(host_mkdir("made"), 0);
    ASSERT_EQ(host_stat("made", &status), 0);
    EXPECT_EQ(status.kind, HOST_KIND_DIRECTORY);
    EXPECT_EQ(host_mkdir("made"), HOST_EEXIST);
    const host_file f = host_fopen("made\\f.txt", "w");
    ASSERT_NE(f, 0u);
    EXPECT_GE(host_fputs("hello", f), 0);
    ASSERT_EQ(host_fstat(f, &status), 0);
    EXPECT_EQ(status.size, 5u) << "what the host still held counts";
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(host_rmdir("made"), HOST_ENOTEMPTY);
    EXPECT_EQ(host_remove("made\\f.txt"), 0);
    EXPECT_EQ(host_rmdir("made"), 0);
    EXPECT_FALSE(exists(dir + "/made"));

    uint32_t seconds = 0, microseconds = 0;
    const long before = static_cast<long>(std::time(nullptr));
    ASSERT_EQ(host_time(&seconds, &microseconds), 0);
    EXPECT_GE(static_cast<long>(seconds), before);
    EXPECT_LE(static_cast<long>(seconds), static_cast<long>(std::time(nullptr)));
    EXPECT_LT(microseconds, 1000000u);

    const std::string shown = printed();
    for (const char* line : {"stat(16.bin) = 0 file 16\n", "stat(none.txt) = -2\n", "mkdir(made) = 0\n",
                             "rmdir(made) = -5\n", "rmdir(made) = 0\n", "time() = "})
        EXPECT_NE(shown.find(line), std::string::npos) << line << "\n" << shown;
}

// Keys not from a console: the target's exit status ends the program.
TEST_F(WinFileService, ExitStatusEndsTheRunWithoutAConsole) {
    line_write(line, {0x02});
    ASSERT_EQ(hex(line_read(line, 1)), "03 ");
    line_write(line, {21, 0x00, 0x00, 0x01, 0x2C});  // 300
    EXPECT_EQ(finish(run), 255);
}
