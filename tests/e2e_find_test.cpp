// Directory search through the real program: patterns, the 24-byte record
// on the wire, MS-DOS times and dates, the search's trace lines.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <set>

#include "client/hostfs.h"
#include "tests/e2e_served.h"
#include "tests/local_time.h"

using namespace e2e;
using namespace tolvane;

namespace {

// Names of a directory that match one of wanted, in readdir's order.
std::vector<std::string> directory_order(const std::string& dir, const std::set<std::string>& wanted) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = readdir(d)) {
        if (wanted.count(e->d_name)) names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

// Sets a file's modification time; false when the file system cannot hold it.
bool set_mtime(const std::string& path, time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    struct stat st;
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 && stat(path.c_str(), &st) == 0 &&
           st.st_mtime == when;
}

// Open file descriptors of a process.
int open_fds(pid_t pid) {
    int n = 0;
    DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (d == nullptr) return -1;
    while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

// Every name the pattern lists, in the order it lists them.
std::vector<std::string> listing(const char* pattern) {
    std::vector<std::string> names;
    host_find_record r{};
    for (int result = host_findfirst(pattern, 0, &r); result == 0; result = host_findnext(&r)) {
        names.push_back(r.name);
        if (names.size() > 100) break;
    }
    return names;
}

}  // namespace

TEST(FindE2E, PatternsDirectoriesAndTheTrace) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "find_patterns", true));
    write_file(s.dir + "/a.c", bytes("a"));
    write_file(s.dir + "/b.c", bytes("bb"));
    write_file(s.dir + "/.x.c", bytes("xxx"));
    write_file(s.dir + "/notes.txt", bytes("notes"));
    mkdir((s.dir + "/sub").c_str(), 0755);
    write_file(s.dir + "/sub/x.h", bytes("header"));
    write_file(s.dir + "/sub/y.h", bytes(""));
    const std::vector<std::string> c_files = directory_order(s.dir, {"a.c", "b.c"});
    ASSERT_EQ(c_files.size(), 2u);
    std::string expected;

    // Find next before any find first.
    request(s, 9, Wire());
    EXPECT_EQ(reply(s, 2), "FF FF ");
    expected += "findnext() = -1  0\n";

    // *.c in the working directory: a.c and b.c as the directory has them,
    // not .x.c; then the end, and the end again.
    host_find_record r{};
    ASSERT_EQ(host_findfirst("*.c", 0, &r), 0);
    EXPECT_EQ(r.name, c_files[0]);
    EXPECT_EQ(r.attributes, 0);
    EXPECT_EQ(r.size, c_files[0] == "a.c" ? 1u : 2u) << "stat of ./name";
    expected += "findfirst(*.c,0) = 0 " + c_files[0] + " 0\n";
    ASSERT_EQ(host_findnext(&r), 0);
    EXPECT_EQ(r.name, c_files[1]);
    EXPECT_EQ(r.size, c_files[1] == "a.c" ? 1u : 2u);
    expected += "findnext() = 0 " + c_files[1] + " 0\n";
    EXPECT_EQ(host_findnext(&r), -1);
    EXPECT_EQ(host_findnext(&r), -1);
    expected += "findnext() = -1  0\nfindnext() = -1  0\n";

    // Matching is case-sensitive; the answer is FF FF and no record.
    request(s, 8, Wire().text("*.C").u16(0));
    EXPECT_EQ(reply(s, 2), "FF FF ");
    expected += "findfirst(*.C,0) = -1  0\n";

    // A leading dot must be matched by a dot.
    EXPECT_EQ(listing(".*.c"), std::vector<std::string>{".x.c"});
    expected += "findfirst(.*.c,0) = 0 .x.c 0\nfindnext() = -1  0\n";

    // A directory carries the attribute 0x10; the trace shows it as 10.
    // The attributes of the request select nothing; the trace shows them.
    ASSERT_EQ(host_findfirst("su?", 0x16, &r), 0);
    EXPECT_STREQ(r.name, "sub");
    EXPECT_EQ(r.attributes, 0x10);
    expected += "findfirst(su?,22) = 0 sub 10\n";

    // A pattern with a directory part searches there, and stats there.
    ASSERT_EQ(host_findfirst("sub/x*", 0, &r), 0);
    EXPECT_STREQ(r.name, "x.h");
    EXPECT_EQ(r.size, 6u);
    EXPECT_EQ(r.attributes, 0);
    expected += "findfirst(sub/x*,0) = 0 x.h 0\n";
    // A new find first ends the search before: no more of *.c or su?.
    EXPECT_EQ(host_findnext(&r), -1);
    expected += "findnext() = -1  0\n";
    const std::vector<std::string> headers = directory_order(s.dir + "/sub", {"x.h", "y.h"});
    EXPECT_EQ(listing("sub/*.h"), headers);
    for (size_t i = 0; i < headers.size(); ++i)
        expected += (i == 0 ? "findfirst(sub/*.h,0) = 0 " : "findnext() = 0 ") + headers[i] + " 0\n";
    expected += "findnext() = -1  0\n";

    // The names . and .. as the name part match nothing.
    for (const char* pattern : {"sub/.", "..", "sub/..", "."}) {
        request(s, 8, Wire().text(pattern).u16(0));
        EXPECT_EQ(reply(s, 2), "FF FF ") << pattern;
        expected += "findfirst(" + std::string(pattern) + ",0) = -1  0\n";
    }
    // A directory that does not exist, and find next after it.
    EXPECT_EQ(host_findfirst("nodir/*", 0, &r), -1);
    EXPECT_EQ(host_findnext(&r), -1);
    expected += "findfirst(nodir/*,0) = -1  0\nfindnext() = -1  0\n";

    // One search at a time: a new find first lets the old directory go.
    int fds = -1;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(host_findfirst("sub/*", 0, &r), 0);
        expected += "findfirst(sub/*,0) = 0 " + std::string(r.name) + " 0\n";
        if (i == 0) fds = open_fds(s.run.pid);
    }
    EXPECT_GT(fds, 0);
    EXPECT_EQ(open_fds(s.run.pid), fds);

    // Everything in the working directory but the dot names.
    const std::vector<std::string> all = listing("*");
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()),
              (std::set<std::string>{"a.c", "b.c", "notes.txt", "sub"}));
    EXPECT_EQ(all.size(), 4u);
    const std::vector<std::string> dir_order = directory_order(s.dir, {"a.c", "b.c", "notes.txt", "sub"});
    EXPECT_EQ(all, dir_order);
    for (size_t i = 0; i < dir_order.size(); ++i)
        expected += (i == 0 ? "findfirst(*,0) = 0 " : "findnext() = 0 ") + dir_order[i] + (dir_order[i] == "sub" ? " 10\n" : " 0\n");
    expected += "findnext() = -1  0\n";

    expect_console(s, expected);
    finish(s);
}

TEST(FindE2E, RecordNamesTimesAndDates) {
    Served s;
    ASSERT_NO_FATAL_FAILURE(serve(s, "find_records", false));
    const std::string long_name = s.dir + "/averyveryverylongname.txt";
    write_file(long_name, bytes("12345"));
    ASSERT_TRUE(set_mtime(long_name, local_time(1999, 12, 31, 23, 59, 58)));

    // The whole reply on the wire: result 0, attributes, time BF7D, date
    // 279F, size 5, the name cut to 13 and a NUL.
    request(s, 8, Wire().text("avery*").u16(0));
    EXPECT_EQ(reply(s, 26), "00 00 00 00 BF 7D 27 9F 00 00 00 05 " + hex(bytes("averyveryvery")) + "00 ");
    // A short name: zero bytes after its NUL.
    write_file(s.dir + "/tiny", bytes("t"));
    ASSERT_TRUE(set_mtime(s.dir + "/tiny", local_time(2024, 2, 29, 13, 45, 30)));
    request(s, 8, Wire().text("tiny").u16(0));
    EXPECT_EQ(reply(s, 26), "00 00 00 00 6D AF 58 5D 00 00 00 01 74 69 6E 79 00 00 00 00 00 00 00 00 00 00 ");

    // Thirteen characters fit whole; fourteen do not.
    write_file(s.dir + "/exactly13.txt", bytes(""));
    write_file(s.dir + "/fourteen14.txt", bytes(""));
    host_find_record r{};
    ASSERT_EQ(host_findfirst("exactly*", 0, &r), 0);
    EXPECT_STREQ(r.name, "exactly13.txt");
    ASSERT_EQ(host_findfirst("fourteen*", 0, &r), 0);
    EXPECT_STREQ(r.name, "fourteen14.tx");

    // Before 1980 MS-DOS has no date: the earliest one, 1980-01-01 00:00.
    write_file(s.dir + "/old.txt", bytes("old"));
    ASSERT_TRUE(set_mtime(s.dir + "/old.txt", local_time(1975, 6, 15, 12, 0, 0)));
    ASSERT_EQ(host_findfirst("old.txt", 0, &r), 0);
    EXPECT_EQ(r.date, 0x0021);
    EXPECT_EQ(r.time, 0);
    EXPECT_EQ(r.size, 3u);
    // After 2107 the latest one, 2107-12-31 23:59:58, where the file system
    // can hold such a time at all.
    write_file(s.dir + "/late.txt", bytes(""));
    if (set_mtime(s.dir + "/late.txt", local_time(2110, 1, 1, 0, 0, 0))) {
        ASSERT_EQ(host_findfirst("late.txt", 0, &r), 0);
        EXPECT_EQ(r.date, 0xFF9F);
        EXPECT_EQ(r.time, 0xBF7D);
    }
    // Odd seconds are halved down.
    write_file(s.dir + "/odd.txt", bytes(""));
    ASSERT_TRUE(set_mtime(s.dir + "/odd.txt", local_time(1980, 1, 1, 0, 0, 1)));
    ASSERT_EQ(host_findfirst("odd.txt", 0, &r), 0);
    EXPECT_EQ(r.date, 0x0021);
    EXPECT_EQ(r.time, 0);

    // The longest directory part a pattern can carry and the longest name
    // an entry can have: the record still gets the entry's size.
    const std::string deep(76, 'd');  // "d.../*" is the longest name a target sends
    const std::string name(255, 'n');
    mkdir((s.dir + "/" + deep).c_str(), 0755);
    write_file(s.dir + "/" + deep + "/" + name, bytes("seven b"));
    ASSERT_EQ(host_findfirst((deep + "/*").c_str(), 0, &r), 0);
    EXPECT_STREQ(r.name, "nnnnnnnnnnnnn");
    EXPECT_EQ(r.size, 7u);

    finish(s);
}
