// -d and -p through the real program, the test as the target: what the
// target is told, and what the files outside the served directory hold
// afterwards. The escapes run against tolvane and against tolvane-walk,
// which resolves names as tolvane does on a kernel without openat2.
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>

#include "client/hostfs.h"
#include "tests/e2e_served.h"

using namespace e2e;
using namespace tolvane;
using pty_io::file_text;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Every entry below a directory, as kind and content: a file's bytes, a
// link's target, a directory's permission bits.
std::map<std::string, std::string>* snapshot_into = nullptr;
size_t snapshot_base = 0;

int snapshot_entry(const char* path, const struct stat* st, int type, FTW*) {
    std::string what;
    if (type == FTW_SL) {
        char target[4096];
        const ssize_t n = readlink(path, target, sizeof target);
        what = "link " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (type == FTW_D) {
        what = "dir " + std::to_string(st->st_mode & 07777);
    } else {
        what = "file " + file_text(path);
    }
    (*snapshot_into)[std::string(path).substr(snapshot_base)] = what;
    return 0;
}

std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    snapshot_into = &entries;
    snapshot_base = dir.size();
    nftw(dir.c_str(), snapshot_entry, 16, FTW_PHYS);
    return entries;
}

// The scratch directory minus the served one: everything the target must
// not reach.
std::map<std::string, std::string> outside_of(const std::string& dir, const std::string& served) {
    std::map<std::string, std::string> all = snapshot(dir);
    for (auto it = all.begin(); it != all.end();) {
        it = it->first.compare(0, served.size() + 1, "/" + served) == 0 ? all.erase(it) : std::next(it);
    }
    return all;
}

std::string hx(uint32_t handle) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", handle);
    return text;
}

std::set<std::string> listing(const char* pattern, int* first = nullptr) {
    std::set<std::string> names;
    host_find_record r{};
    int result = host_findfirst(pattern, 0, &r);
    if (first) *first = result;
    for (; result == 0 && names.size() < 100; result = host_findnext(&r)) names.insert(r.name);
    return names;
}

// The served directory "board" beside the things it must keep the target
// from: a file and a directory outside, and links in board that lead out.
void lay_out(const std::string& dir) {
    ASSERT_EQ(mkdir((dir + "/board").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/board/sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/elsewhere").c_str(), 0755), 0);
    write_file(dir + "/outside.txt", bytes("outside"));
    write_file(dir + "/elsewhere/secret.txt", bytes("secret"));
    write_file(dir + "/board/inside.txt", bytes("inside"));
    write_file(dir + "/board/sub/a.txt", bytes("a"));
    for (const auto& link : std::map<std::string, std::string>{{"hostetc", "/etc"},
                                                               {"up", "../elsewhere"},
                                                               {"out", dir + "/elsewhere"},
                                                               {"loop", "loop"},
                                                               {"self", "."},
                                                               {"inner", "sub"},
                                                               {"abs_inner", "/sub"},
                                                               {"dangling_out", "../elsewhere/made.txt"},
                                                               {"dangling_in", "/made.txt"}}) {
        ASSERT_EQ(symlink(link.second.c_str(), (dir + "/board/" + link.first).c_str()), 0) << link.first;
    }
}

class ConfineE2E : public testing::TestWithParam<bool> {
protected:
    std::string program() const { return GetParam() ? tolvane_walk_path() : tolvane_path(); }
};

}  // namespace

TEST_P(ConfineE2E, NothingOutsideTheDirectoryIsReadCreatedChangedOrListed) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, GetParam() ? "confine_walk" : "confine_kernel", false, {"-d", "board"},
                                  program(), lay_out));
    const std::map<std::string, std::string> before = outside_of(s.dir, "board");
    const std::string board = s.dir + "/board";

    // Reading: climbing, absolute, drive and links that lead out find nothing.
    const std::string full = s.dir + "/outside.txt";
    for (const std::string& name :
         std::vector<std::string>{"../outside.txt", "../../outside.txt", full, "C:\\..\\outside.txt",
                                  "C:" + full, "up/secret.txt", "out/secret.txt", "hostetc/passwd",
                                  "hostetc/hostname", "loop", "../elsewhere/secret.txt"}) {
        EXPECT_EQ(host_fopen(name.c_str(), "r"), 0u) << name;
    }
    // Ordinary names, subdirectories and links that stay inside work.
    char buf[16] = {};
    for (const char* name : {"inside.txt", "/inside.txt", "../inside.txt", "C:\\inside.txt", "sub/../inside.txt",
                             "abs_inner/../inside.txt"}) {
        const host_file f = host_fopen(name, "r");
        ASSERT_NE(f, 0u) << name;
        EXPECT_EQ(host_fread(buf, 6, f), 6) << name;
        EXPECT_EQ(std::string(buf, 6), "inside");
        EXPECT_EQ(host_fclose(f), 0);
    }
    for (const char* name : {"sub/a.txt", "inner/a.txt", "abs_inner/a.txt", "C:\\sub\\a.txt", "self/sub/a.txt"}) {
        const host_file f = host_fopen(name, "r");
        EXPECT_NE(f, 0u) << name;
        EXPECT_EQ(host_fgetc(f), 'a') << name;
        host_fclose(f);
    }

    // Writing: what climbs lands inside; what leads out is refused.
    for (const char* name : {"../new.txt", "../../outside.txt", "dangling_in", "C:\\sub\\W.DAT", "..\\x.txt"}) {
        const host_file f = host_fopen(name, "w");
        ASSERT_NE(f, 0u) << name;
        EXPECT_GE(host_fputs("written", f), 0);
        EXPECT_EQ(host_fclose(f), 0);
    }
    EXPECT_EQ(file_text(board + "/new.txt"), "written");
    EXPECT_EQ(file_text(board + "/outside.txt"), "written");
    EXPECT_EQ(file_text(board + "/made.txt"), "written") << "the dangling link's target, beneath the directory";
    EXPECT_EQ(file_text(board + "/sub/W.DAT"), "written");
    EXPECT_EQ(file_text(board + "/..\\x.txt"), "written") << "without a drive a backslash is a character";
    for (const std::string& name : std::vector<std::string>{"up/new.txt", "out/new.txt", "out/secret.txt",
                                                            "dangling_out", s.dir + "/elsewhere/secret.txt",
                                                            "hostetc/tolvane-test", "loop"}) {
        for (const char* mode : {"w", "a", "r+"}) {
            EXPECT_EQ(host_fopen(name.c_str(), mode), 0u) << name << " " << mode;
        }
    }

    // Remove and rename: the names outside stay as they are.
    EXPECT_EQ(host_remove("../elsewhere/secret.txt"), -1);
    EXPECT_EQ(host_remove("up/secret.txt"), -1);
    EXPECT_EQ(host_remove(full.c_str()), -1) << "the file of that name inside is not there";
    EXPECT_EQ(host_remove("hostetc/hostname"), -1);
    EXPECT_EQ(host_remove(".."), -1);
    EXPECT_EQ(host_remove("/"), -1);
    EXPECT_EQ(host_rename("inside.txt", "up/taken.txt"), -1);
    EXPECT_EQ(host_rename("inside.txt", "out/taken.txt"), -1);
    EXPECT_EQ(host_rename("inside.txt", (s.dir + "/taken.txt").c_str()), -1);
    EXPECT_EQ(host_rename("up/secret.txt", "stolen.txt"), -1);
    EXPECT_EQ(host_rename("inside.txt", "../../moved.txt"), 0);
    EXPECT_EQ(file_text(board + "/moved.txt"), "inside");
    EXPECT_EQ(host_remove("../new.txt"), 0);
    EXPECT_FALSE(exists(board + "/new.txt"));

    // The search lists the directory wherever the pattern climbs.
    const std::set<std::string> top = listing("*");
    EXPECT_TRUE(top.count("moved.txt"));
    EXPECT_TRUE(top.count("sub"));
    for (const char* pattern : {"../*", "/*", "../../*", "C:\\*", "C:*", "sub/../../*"}) {
        EXPECT_EQ(listing(pattern), top) << pattern;
    }
    EXPECT_EQ(listing("inner/*"), (std::set<std::string>{"W.DAT", "a.txt"}));
    int first = 0;
    for (const char* pattern : {"up/*", "out/*", "hostetc/*", "loop/*", "../elsewhere/*"}) {
        EXPECT_TRUE(listing(pattern, &first).empty()) << pattern;
        EXPECT_EQ(first, -1) << pattern;
    }
    // A link in the directory that leads out is listed by name and tells
    // nothing of what is there: no size, no directory bit.
    host_find_record r{};
    ASSERT_EQ(host_findfirst("out", 0, &r), 0);
    EXPECT_EQ(r.attributes, 0);
    EXPECT_EQ(r.size, 0u);
    ASSERT_EQ(host_findfirst("up", 0, &r), 0);
    EXPECT_EQ(r.attributes, 0);

    EXPECT_EQ(outside_of(s.dir, "board"), before);
    EXPECT_FALSE(exists("/etc/tolvane-test"));
    finish(s);
}

INSTANTIATE_TEST_SUITE_P(KernelAndWalk, ConfineE2E, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Walk" : "Kernel"; });

// A refused request is answered as the failed C call, byte for byte, and
// traced as any other; nothing else is printed.
TEST(Confine, RefusalsAnswerAsTheCallFailsAndTraceAsUsual) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "confine_wire", true, {"-d", "board"}, "", lay_out));
    request(s, 0, Wire().text("../outside.txt").text("r"));
    EXPECT_EQ(reply(s, 4), "00 00 00 00 ");
    request(s, 10, Wire().text("up/secret.txt"));
    EXPECT_EQ(reply(s, 2), "FF FF ");
    request(s, 11, Wire().text("inside.txt").text("out/x"));
    EXPECT_EQ(reply(s, 2), "FF FF ");
    request(s, 8, Wire().text("up/*").u16(0));
    EXPECT_EQ(reply(s, 2), "FF FF ") << "and no record";
    const host_file f = host_fopen("C:\\sub\\..\\inside.txt", "r");
    EXPECT_NE(f, 0u);
    EXPECT_EQ(host_fclose(f), 0);
    expect_console(s, "fopen(../outside.txt,r) = 0\n"
                      "remove(up/secret.txt)\n"
                      "rename(inside.txt,out/x)\n"
                      "findfirst(up/*,0) = -1  0\n"
                      "fopen(/sub/../inside.txt,r) = " + hx(f) + "\n"
                      "fclose(" + hx(f) + ") = 0\n");
    finish(s);
}

// -p: every request that would change a file fails, the rest work.
TEST(Confine, ReadOnlyRefusesEveryChange) {
    for (bool with_root : {false, true}) {
        SCOPED_TRACE(with_root ? "-p -d board" : "-p");
        Served s;
        std::vector<std::string> args{"-p"};
        if (with_root) args = {"-P", "-D", "board"};
        ASSERT_NO_FATAL_FAILURE(serve(s, with_root ? "confine_ro_root" : "confine_ro", false, args, "", lay_out));
        const std::string here = with_root ? "" : "board/";
        const std::map<std::string, std::string> before = snapshot(s.dir);

        for (const char* mode : {"w", "wb", "a", "ab", "r+", "w+", "a+", "rb+", "wx"}) {
            EXPECT_EQ(host_fopen((here + "inside.txt").c_str(), mode), 0u) << mode;
            EXPECT_EQ(host_fopen((here + "fresh.txt").c_str(), mode), 0u) << mode;
        }
        EXPECT_EQ(host_remove((here + "inside.txt").c_str()), -1);
        EXPECT_EQ(host_remove((here + "sub/a.txt").c_str()), -1);
        EXPECT_EQ(host_rename((here + "inside.txt").c_str(), (here + "renamed.txt").c_str()), -1);

        // Reading goes on; the stream takes no output, whatever the request.
        const host_file f = host_fopen((here + "inside.txt").c_str(), "r");
        ASSERT_NE(f, 0u);
        EXPECT_EQ(host_fputc('X', f), -1);
        EXPECT_EQ(host_fputs("XX", f), -1);
        host_fwrite("XXX", 3, f);
        char buf[16] = {};
        EXPECT_EQ(host_fread(buf, 16, f), 6);
        EXPECT_EQ(std::string(buf, 6), "inside");
        EXPECT_EQ(host_fclose(f), 0);
        EXPECT_EQ(listing((here + "sub/*").c_str()), std::set<std::string>{"a.txt"});

        EXPECT_EQ(snapshot(s.dir), before);
        finish(s);
    }
}

// The options at start: the line under the banner, and a directory that
// cannot be served ends the program before the line is opened.
TEST(Confine, BannerLineAndDirectoriesThatCannotBeServed) {
    const std::string dir = scratch_dir("confine_start");
    write_file(dir + "/plain.txt", bytes("x"));
    mkdir((dir + "/files").c_str(), 0755);
    struct Case {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"-d", "files"}, "Files: files\n"},
        {{"-D", dir + "/files", "-p"}, "Files: " + dir + "/files (read-only)\n"},
        {{"-rp"}, "Files: read-only\n"},
        {{"-P", "-d", "files"}, "Files: files (read-only)\n"},
        {{}, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"-c", "{line}"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Options options;
        options.workdir = dir;
        Session run = start(args, options);
        ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.console_output;
        const std::string& out = run.console_output;
        const size_t baud = out.find(" Baud\r\n");
        ASSERT_NE(baud, std::string::npos) << out;
        std::string expected = c.line + "\nExit with Ctrl-Q\n\n";
        for (size_t at = 0; (at = expected.find('\n', at)) != std::string::npos; at += 2) expected.replace(at, 1, "\r\n");
        EXPECT_EQ(out.substr(baud + 7), expected);
        ASSERT_TRUE(console_wait_raw(run));
        console_type(run, {0x11});
        EXPECT_EQ(exit_code(wait_exit(run)), 0);
        close_pty(run.line);
        close_pty(run.console);
    }

    struct Bad {
        std::string root;
        std::string reason;
    } bad[] = {
        {"missing", "No such file or directory"},
        {"plain.txt", "Not a directory"},
        {"plain.txt/", "Not a directory"},
        {"", "No such file or directory"},
    };
    for (const auto& b : bad) {
        for (bool quit : {false, true}) {
            std::vector<std::string> args{"-c", "{line}", "-d", b.root, "word"};
            if (quit) args.insert(args.begin(), "-q");
            Options options;
            options.workdir = dir;
            Session run = start(args, options);
            EXPECT_EQ(exit_code(wait_exit(run)), 255) << b.root;
            EXPECT_EQ(run.console_output, "open: " + b.root + ": " + b.reason + "\r\n");
            EXPECT_TRUE(line_drain(run, 100).empty()) << "the line was never opened: " << b.root;
            close_pty(run.line);
            close_pty(run.console);
        }
    }
}
