// tolvane-win -d and -p under Wine, the test as the target. The links that
// lead out of the served directory are Linux symbolic links, which Wine
// follows like Windows links; the program must see where they lead.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "client/hostfs.h"
#include "tests/win_harness.h"

using namespace win_e2e;
using namespace tolvane;
using pty_io::file_text;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::set<std::string> names_in(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

std::map<std::string, host_find_record> listing(const char* pattern, int* first = nullptr) {
    std::map<std::string, host_find_record> found;
    host_find_record r{};
    int result = host_findfirst(pattern, 0, &r);
    if (first) *first = result;
    for (; result == 0 && found.size() < 100; result = host_findnext(&r)) found[r.name] = r;
    return found;
}

std::set<std::string> names_of(const std::map<std::string, host_find_record>& found) {
    std::set<std::string> names;
    for (const auto& f : found) names.insert(f.first);
    return names;
}

// board is served; outside.txt and elsewhere/ are not, and links in board
// lead there.
class WinConfine : public testing::Test {
protected:
    void SetUp() override {
        dir = scratch_dir("win-confine");
        board = dir + "/board";
        ASSERT_EQ(mkdir(board.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((board + "/sub").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((dir + "/elsewhere").c_str(), 0755), 0);
        std::ofstream(dir + "/outside.txt") << "outside";
        std::ofstream(dir + "/elsewhere/secret.txt") << "secret";
        std::ofstream(board + "/inside.txt") << "inside";
        std::ofstream(board + "/sub/a.txt") << "a";
        for (const auto& link : std::map<std::string, std::string>{{"up", "../elsewhere"},
                                                                   {"out", dir + "/elsewhere"},
                                                                   {"hostetc", "/etc"},
                                                                   {"leak.txt", "../outside.txt"},
                                                                   {"inner", "sub"}}) {
            ASSERT_EQ(symlink(link.second.c_str(), (board + "/" + link.first).c_str()), 0) << link.first;
        }
        line = line_open(45);
    }
    void TearDown() override {
        EXPECT_FALSE(target_timed_out()) << "the program stopped answering";
        kill_run(run);
        line_close(line);
    }

    void start_serving(const std::vector<std::string>& options) {
        std::vector<std::string> args{"-c", "COM45"};
        args.insert(args.end(), options.begin(), options.end());
        run = start(args, dir);
        ASSERT_TRUE(output_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.output << run.errors;
        ASSERT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
        target_attach(line);
    }

    void expect_outside_untouched() {
        EXPECT_EQ(file_text(dir + "/outside.txt"), "outside");
        EXPECT_EQ(file_text(dir + "/elsewhere/secret.txt"), "secret");
        EXPECT_EQ(names_in(dir + "/elsewhere"), (std::set<std::string>{".", "..", "secret.txt"}));
        EXPECT_EQ(names_in(dir), (std::set<std::string>{".", "..", "board", "elsewhere", "outside.txt"}));
    }

    std::string dir, board;
    Line line;
    Program run;
};

}  // namespace

TEST_F(WinConfine, NamesStayInTheDirectoryAndLinksThatLeadOutAreRefused) {
    ASSERT_NO_FATAL_FAILURE(start_serving({"-r", "-d", "board"}));
    EXPECT_NE(run.output.find(" Baud\r\nFiles: board\r\n\r\nExit with Ctrl-Q"), std::string::npos) << run.output;

    const std::string outside_full = windows_path(dir + "/outside.txt");
    for (const std::string& name : std::vector<std::string>{"..\\outside.txt", "..\\..\\outside.txt", "C:\\..\\outside.txt",
                                                            outside_full, "/../outside.txt", "up\\secret.txt",
                                                            "out\\secret.txt", "leak.txt", "hostetc\\passwd"}) {
        EXPECT_EQ(host_fopen(name.c_str(), "rb"), 0u) << name;
    }
    for (const char* name : {"inside.txt", "\\inside.txt", "..\\inside.txt", "Z:\\inside.txt", "SUB\\..\\INSIDE.TXT"}) {
        const host_file f = host_fopen(name, "rb");
        EXPECT_NE(f, 0u) << name;
        EXPECT_EQ(host_fgetc(f), 'i') << name;
        host_fclose(f);
    }
    const host_file linked = host_fopen("inner\\a.txt", "rb");
    EXPECT_NE(linked, 0u) << "a link that stays inside";
    EXPECT_EQ(host_fclose(linked), 0);

    // Writes: what climbs lands inside; through a link that leads out,
    // nothing is made or truncated.
    const host_file f = host_fopen("..\\..\\new.txt", "wb");
    ASSERT_NE(f, 0u);
    EXPECT_EQ(host_fputs("new", f), 0);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_text(board + "/new.txt"), "new");
    for (const char* name : {"up\\new.txt", "out\\secret.txt", "up\\secret.txt", "leak.txt", "NUL", "sub\\nul.txt", "CON"}) {
        for (const char* mode : {"wb", "ab", "r+b"}) EXPECT_EQ(host_fopen(name, mode), 0u) << name << " " << mode;
    }

    EXPECT_NE(host_remove("up\\secret.txt"), 0);
    EXPECT_NE(host_remove("..\\outside.txt"), 0);
    EXPECT_NE(host_rename("inside.txt", "up\\taken.txt"), 0);
    EXPECT_NE(host_rename("up\\secret.txt", "stolen.txt"), 0);
    EXPECT_NE(host_rename("inside.txt", "..\\.."), 0) << "a name for the directory itself";
    EXPECT_EQ(host_rename("new.txt", "..\\moved.txt"), 0);
    EXPECT_TRUE(exists(board + "/moved.txt"));
    // Wine removes and renames what a link leads to, not the link: a link
    // that leads out is left alone, and so is its target.
    EXPECT_NE(host_remove("leak.txt"), 0);
    EXPECT_NE(host_rename("leak.txt", "moved-leak.txt"), 0);
    EXPECT_NE(host_rename("moved.txt", "leak.txt"), 0);
    EXPECT_TRUE(exists(board + "/leak.txt"));

    // The search: the directory wherever the pattern climbs; links that
    // lead out are listed by name and tell nothing of what is there.
    const auto top = listing("*");
    EXPECT_TRUE(top.count("inside.txt") && top.count("moved.txt") && top.count("sub")) << top.size();
    EXPECT_FALSE(top.count("outside.txt"));
    for (const char* pattern : {"..\\*", "\\*", "C:\\..\\..\\*", "/*"}) {
        EXPECT_EQ(names_of(listing(pattern)), names_of(top)) << pattern;
    }
    ASSERT_TRUE(top.count("up"));
    EXPECT_EQ(top.at("up").attributes, 0) << "not the directory it leads to";
    EXPECT_EQ(top.at("sub").attributes & 0x10, 0x10);
    int first = 0;
    EXPECT_TRUE(listing("up\\*", &first).empty());
    EXPECT_EQ(first, 1);
    EXPECT_TRUE(listing("..\\elsewhere\\*", &first).empty());
    EXPECT_EQ(first, 1);
    EXPECT_EQ(names_of(listing("inner\\*")), (std::set<std::string>{".", "..", "a.txt"}));

    expect_outside_untouched();
    // Refusals are traced as any request; nothing else is said.
    output_collect(run);
    const std::string out = dos_newlines_to_unix(run.output);
    EXPECT_NE(out.find("fopen(up\\secret.txt,rb) = 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("remove(up\\secret.txt)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("rename(inside.txt,up\\taken.txt)\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("open:"), std::string::npos) << out;
}

TEST_F(WinConfine, ReadOnlyRefusesEveryChange) {
    ASSERT_NO_FATAL_FAILURE(start_serving({"-p", "-d", "board"}));
    EXPECT_NE(run.output.find(" Baud\r\nFiles: board (read-only)\r\n"), std::string::npos) << run.output;
    for (const char* mode : {"w", "wb", "a", "r+", "w+b", "a+"}) {
        EXPECT_EQ(host_fopen("inside.txt", mode), 0u) << mode;
        EXPECT_EQ(host_fopen("fresh.txt", mode), 0u) << mode;
    }
    EXPECT_NE(host_remove("inside.txt"), 0);
    EXPECT_NE(host_rename("inside.txt", "renamed.txt"), 0);
    const host_file f = host_fopen("inside.txt", "rb");
    ASSERT_NE(f, 0u);
    EXPECT_EQ(host_fputc('X', f), -1);
    EXPECT_EQ(host_fgetc(f), 'i');
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_EQ(file_text(board + "/inside.txt"), "inside");
    EXPECT_EQ(names_in(board), (std::set<std::string>{".", "..", "inside.txt", "sub", "up", "out", "hostetc",
                                                      "leak.txt", "inner"}));
    expect_outside_untouched();
}

// stat, mkdir and rmdir take names as every request does: links that
// lead out show nothing and are never made in or removed.
TEST_F(WinConfine, StatMkdirAndRmdirStayInTheDirectory) {
    ASSERT_NO_FATAL_FAILURE(start_serving({"-d", "board"}));
    host_forget_host();
    host_status status{};
    const struct {
        const char* name;
        int result;
    } stats[] = {
        {"\\", 0}, {"C:\\sub", 0}, {"..\\..\\inside.txt", 0}, {"..\\outside.txt", HOST_ENOENT},
        {"up\\secret.txt", HOST_EACCES}, {"leak.txt", HOST_EACCES}, {"NUL", HOST_EACCES},
    };
    for (const auto& c : stats) EXPECT_EQ(host_stat(c.name, &status), c.result) << c.name;
    EXPECT_EQ(host_mkdir("..\\made"), 0);
    EXPECT_TRUE(exists(board + "/made"));
    EXPECT_NE(host_mkdir("up\\made"), 0);
    EXPECT_EQ(host_mkdir("\\"), HOST_EEXIST);
    EXPECT_NE(host_rmdir("up"), 0) << "a link that leads out";
    EXPECT_NE(host_rmdir("\\"), 0);
    EXPECT_EQ(host_rmdir("made"), 0);
    EXPECT_FALSE(exists(board + "/made"));
    expect_outside_untouched();
    EXPECT_TRUE(exists(board + "/up"));
}

TEST_F(WinConfine, ReadOnlyRefusesMkdirAndRmdir) {
    ASSERT_NO_FATAL_FAILURE(start_serving({"-p", "-d", "board"}));
    host_forget_host();
    host_status status{};
    EXPECT_EQ(host_mkdir("made"), HOST_EROFS);
    EXPECT_EQ(host_rmdir("sub"), HOST_EROFS);
    EXPECT_FALSE(exists(board + "/made"));
    EXPECT_TRUE(exists(board + "/sub"));
    EXPECT_EQ(host_stat("sub", &status), 0);
    EXPECT_EQ(status.kind, HOST_KIND_DIRECTORY);
}

TEST_F(WinConfine, ADirectoryThatCannotBeServedEndsTheProgram) {
    for (const char* root : {"missing", "outside.txt"}) {
        Program bad = start({"-c", "COM45", "-d", root, "word"}, dir);
        EXPECT_EQ(finish(bad), 255) << root;
        const std::string out = dos_newlines_to_unix(bad.errors);
        EXPECT_EQ(out.rfind("open: " + std::string(root) + ": ", 0), 0u) << out;
        EXPECT_GT(out.size(), std::string(root).size() + 9) << "the system's text: " << out;
        EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
        EXPECT_EQ(hex(line_drain(line, 200)), "") << "the port was never opened";
    }
}
