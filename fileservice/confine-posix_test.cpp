// Names beneath the service root, each case twice: resolved by the kernel
// (openat2) and by the component walk. Every case checks the files outside
// the root as well as the answer.
#include "fileservice/confine.h"

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/settings.h"
#include "fileservice/confine-posix.h"

namespace tolvane {

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

int remove_entry(const char* path, const struct stat*, int, FTW*) { return ::remove(path); }

// What a stream holds from its start, for a stream that reads.
std::string stream_text(FILE* f) {
    std::string text;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    return text;
}

// base/root is the service root; base/outside must never change.
class Confine : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        char name[] = "confine-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        char* absolute = realpath(name, nullptr);
        base = absolute;
        free(absolute);
        root = base + "/root";
        outside = base + "/outside";
        ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((root + "/sub").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((root + "/sub/deeper").c_str(), 0755), 0);
        write_text(root + "/file.txt", "inside");
        write_text(root + "/sub/inner.txt", "inner");
        write_text(outside + "/secret.txt", "secret");
        link("../../outside", "up");           // climbs: stops at the root
        link(outside, "out");                   // the outside by its full name
        link("/etc", "hostetc");
        link("/sub", "abs");                    // absolute, and inside
        link("sub/inner.txt", "rel");          // relative, and inside
        link(".", "self");
        link("loop2", "loop1");
        link("loop1", "loop2");
        link("/made-by-link.txt", "dangling");  // a name to create
        link("../outside/new.txt", "dangling_up");
        confine_walk_only = GetParam();
        service_root = root.c_str();
    }

    void TearDown() override {
        service_root = nullptr;
        confine_walk_only = false;
        nftw(base.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    }

    void link(const std::string& target, const std::string& name) {
        ASSERT_EQ(symlink(target.c_str(), (root + "/" + name).c_str()), 0) << name;
    }

    // The outside as it was set up: one file, unchanged.
    void expect_outside_untouched() {
        EXPECT_EQ(read_text(outside + "/secret.txt"), "secret");
        std::set<std::string> names;
        if (DIR* d = opendir(outside.c_str())) {
            while (const dirent* e = readdir(d)) names.insert(e->d_name);
            closedir(d);
        }
        EXPECT_EQ(names, (std::set<std::string>{".", "..", "secret.txt"}));
        EXPECT_FALSE(exists(base + "/new.txt"));
        EXPECT_FALSE(exists(base + "/moved.txt"));
    }

    // confine_fopen with the mode checked as the file service checks it.
    FILE* open(const std::string& name, const char* mode) {
        return confine_fopen(name.c_str(), mode, open_mode_parse(mode));
    }

    // The text of a name opened for reading beneath the root; "-" and errno when it fails.
    std::string read_beneath(const std::string& name, int* error = nullptr) {
        errno = 0;
        FILE* f = open(name, "r");
        if (error) *error = errno;
        if (f == nullptr) return "-";
        const std::string text = stream_text(f);
        std::fclose(f);
        return text;
    }

    std::string base, root, outside;
};

}  // namespace

TEST_P(Confine, NamesResolveAsIfTheRootWereSlash) {
    EXPECT_EQ(read_beneath("file.txt"), "inside");
    for (const char* name : {"/file.txt", "../file.txt", "../../../file.txt", "sub/../../file.txt", "//file.txt",
                             "./sub/./../file.txt", "self/self/file.txt", "sub/deeper/../../../file.txt"}) {
        EXPECT_EQ(read_beneath(name), "inside") << name;
    }
    // Links inside the root lead where they point, taken from the root.
    EXPECT_EQ(read_beneath("abs/inner.txt"), "inner");
    EXPECT_EQ(read_beneath("rel"), "inner");
    EXPECT_EQ(read_beneath("sub/deeper/../../abs/../rel"), "inner");

    // The outside, by every way there is, is not there.
    int error = 0;
    const std::string full = outside + "/secret.txt";
    for (const std::string& name : std::vector<std::string>{std::string("../outside/secret.txt"), std::string("../../outside/secret.txt"),
                                    full, "up/secret.txt", "out/secret.txt", "sub/../" + full.substr(1)}) {
        EXPECT_EQ(read_beneath(name, &error), "-") << name;
        EXPECT_EQ(error, ENOENT) << name;
    }
    EXPECT_EQ(read_beneath("hostetc/passwd", &error), "-");
    EXPECT_EQ(error, ENOENT) << "/etc is the root's etc, which is not there";
    EXPECT_EQ(read_beneath("loop1", &error), "-");
    EXPECT_EQ(error, ELOOP);
    EXPECT_EQ(read_beneath("file.txt/", &error), "-");
    EXPECT_EQ(error, ENOTDIR);
    EXPECT_EQ(read_beneath("", &error), "-");
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(read_beneath("nothing/file.txt", &error), "-");
    EXPECT_EQ(error, ENOENT);

    // Once there is an outside beneath the root, the same names find it.
    ASSERT_EQ(mkdir((root + "/outside").c_str(), 0755), 0);
    write_text(root + "/outside/secret.txt", "decoy");
    EXPECT_EQ(read_beneath("../outside/secret.txt"), "decoy");
    EXPECT_EQ(read_beneath("up/secret.txt"), "decoy");
    expect_outside_untouched();
}

TEST_P(Confine, CreatesOnlyBeneathTheRoot) {
    FILE* f = open("../../new.txt", "w");
    ASSERT_NE(f, nullptr);
    std::fputs("n", f);
    std::fclose(f);
    EXPECT_EQ(read_text(root + "/new.txt"), "n");

    // A dangling link creates its target, beneath the root.
    f = open("dangling", "a");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(exists(root + "/made-by-link.txt"));
    // x never follows a final link: the link is there, so the name is taken.
    errno = 0;
    EXPECT_EQ(open("dangling", "wx"), nullptr);
    EXPECT_EQ(errno, EEXIST);

    for (const std::string& name : std::vector<std::string>{std::string("dangling_up"), std::string("up/new.txt"), outside + "/new.txt",
                                    std::string("out/new.txt"), std::string("hostetc/new.txt")}) {
        errno = 0;
        EXPECT_EQ(open(name, "w"), nullptr) << name;
        EXPECT_EQ(errno, ENOENT) << name;
    }
    // Not even truncated: the outside's file keeps its bytes.
    EXPECT_EQ(open(outside + "/secret.txt", "w"), nullptr);
    EXPECT_EQ(open("../outside/secret.txt", "a"), nullptr);
    expect_outside_untouched();
    EXPECT_EQ(read_text(root + "/file.txt"), "inside");
}

// Each mode does beneath the root what fopen does: the same success, and
// after a write and a read from the start the same stream and file.
TEST_P(Confine, ModesActAsFopenDoes) {
    const std::string plain = base + "/plain";
    ASSERT_EQ(mkdir(plain.c_str(), 0755), 0);
    for (const char* mode : {"r", "rb", "r+", "w", "wb", "w+", "a", "ab", "a+", "wx", "w+x", "rt"}) {
        for (bool there : {false, true}) {
            SCOPED_TRACE(std::string(mode) + (there ? " on a file" : " on no file"));
            const std::string name = std::string("m-") + (there ? "there" : "new");
            if (there) {
                write_text(plain + "/" + name, "abc");
                write_text(root + "/" + name, "abc");
            }
            FILE* expected = std::fopen((plain + "/" + name).c_str(), mode);
            FILE* got = open(name, mode);
            ASSERT_EQ(got != nullptr, expected != nullptr);
            if (got) {
                const open_mode m = open_mode_parse(mode);
                if (m.writes) {
                    EXPECT_EQ(std::fputs("XY", got), std::fputs("XY", expected));
                    std::fflush(got);
                    std::fflush(expected);
                }
                if (m.reads) {
                    EXPECT_EQ(stream_text(got), stream_text(expected));
                }
                std::fclose(got);
                std::fclose(expected);
            }
            EXPECT_EQ(exists(root + "/" + name), exists(plain + "/" + name));
            EXPECT_EQ(read_text(root + "/" + name), read_text(plain + "/" + name));
            ::remove((plain + "/" + name).c_str());
            ::remove((root + "/" + name).c_str());
        }
    }
    EXPECT_EQ(open("file.txt", "rw"), nullptr) << "a mode fopen would refuse";
    EXPECT_EQ(open("file.txt", "e"), nullptr);
}

TEST_P(Confine, RemoveTakesFilesAndEmptyDirectoriesBeneathTheRoot) {
    EXPECT_EQ(confine_remove("../../file.txt"), 0);
    EXPECT_FALSE(exists(root + "/file.txt"));
    EXPECT_EQ(confine_remove("sub"), -1) << "not empty";
    EXPECT_EQ(confine_remove("sub/deeper/"), 0) << "an empty directory, as remove(3) does";
    EXPECT_FALSE(exists(root + "/sub/deeper"));
    EXPECT_EQ(confine_remove("sub/inner.txt/"), -1);
    EXPECT_TRUE(exists(root + "/sub/inner.txt"));
    // A link goes itself; what it points to stays.
    EXPECT_EQ(confine_remove("rel"), 0);
    EXPECT_FALSE(exists(root + "/rel"));
    EXPECT_TRUE(exists(root + "/sub/inner.txt"));
    EXPECT_EQ(confine_remove("out"), 0);
    EXPECT_FALSE(exists(root + "/out"));

    const std::string full = outside + "/secret.txt";
    for (const std::string& name : std::vector<std::string>{std::string("../outside/secret.txt"), full, std::string("up/secret.txt"),
                                    std::string("hostetc/hostname")}) {
        EXPECT_EQ(confine_remove(name.c_str()), -1) << name;
    }
    // The root itself is never removed, by any name for it.
    ASSERT_EQ(confine_remove("sub/inner.txt"), 0);
    ASSERT_EQ(confine_remove("sub"), 0);
    for (const char* name : {"", ".", "..", "/", "//", "sub/..", "self/.", "self/"}) {
        EXPECT_EQ(confine_remove(name), -1) << '"' << name << '"';
    }
    EXPECT_TRUE(exists(root));
    EXPECT_EQ(confine_remove("self"), 0) << "the link named self";
    EXPECT_TRUE(exists(root));
    expect_outside_untouched();
}

TEST_P(Confine, RenameKeepsBothNamesBeneathTheRoot) {
    EXPECT_EQ(confine_rename("file.txt", "../../moved.txt"), 0);
    EXPECT_EQ(read_text(root + "/moved.txt"), "inside");
    EXPECT_EQ(confine_rename("/moved.txt", "sub/deeper/../moved.txt"), 0);
    EXPECT_EQ(read_text(root + "/sub/moved.txt"), "inside");

    const std::string full = outside + "/taken.txt";
    for (const std::string& to : std::vector<std::string>{full, std::string("up/taken.txt"), std::string("../outside/taken.txt"),
                                  std::string("out/taken.txt"), std::string("hostetc/taken")}) {
        EXPECT_EQ(confine_rename("sub/moved.txt", to.c_str()), -1) << to;
        EXPECT_TRUE(exists(root + "/sub/moved.txt")) << to;
    }
    EXPECT_EQ(confine_rename("../outside/secret.txt", "stolen.txt"), -1);
    EXPECT_EQ(confine_rename((outside + "/secret.txt").c_str(), "stolen.txt"), -1);
    EXPECT_FALSE(exists(root + "/stolen.txt"));
    // A link moves itself.
    EXPECT_EQ(confine_rename("up", "sub/up"), 0);
    struct stat st;
    ASSERT_EQ(lstat((root + "/sub/up").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(confine_rename("sub", ".."), -1);
    EXPECT_EQ(confine_rename("..", "x"), -1);
    EXPECT_EQ(confine_rename("sub/moved.txt/", "x"), -1) << "a trailing slash wants a directory";
    EXPECT_EQ(confine_rename("sub/deeper", "deep/"), 0);
    EXPECT_TRUE(exists(root + "/deep"));
    expect_outside_untouched();
}

TEST_P(Confine, DirectoriesAndStatsStayBeneathTheRoot) {
    for (const char* name : {".", "..", "/", "../..", "self", "sub/.."}) {
        DIR* d = confine_opendir(name);
        ASSERT_NE(d, nullptr) << name;
        std::set<std::string> names;
        while (const dirent* e = readdir(d)) names.insert(e->d_name);
        closedir(d);
        EXPECT_TRUE(names.count("file.txt")) << name;
        EXPECT_FALSE(names.count("secret.txt")) << name;
    }
    EXPECT_EQ(confine_opendir("hostetc"), nullptr);
    EXPECT_EQ(confine_opendir("up"), nullptr);
    EXPECT_EQ(confine_opendir(outside.c_str()), nullptr);

    struct stat st;
    ASSERT_EQ(confine_stat("abs", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << "the link leads to the root's sub";
    ASSERT_EQ(confine_stat("/rel", &st), 0);
    EXPECT_EQ(st.st_size, 5);
    // A link that points out tells nothing of what is there.
    EXPECT_EQ(confine_stat("out", &st), -1);
    EXPECT_EQ(confine_stat("up/secret.txt", &st), -1);
    EXPECT_EQ(confine_stat("hostetc/passwd", &st), -1);
    EXPECT_EQ(confine_stat("loop1", &st), -1);
}

// Forty links in a row resolve; one more is a loop, as in the kernel.
TEST_P(Confine, LinkChainsEndAtForty) {
    for (int i = 1; i <= 40; ++i) link("c" + std::to_string(i - 1), "c" + std::to_string(i));
    link("file.txt", "c0");
    EXPECT_EQ(read_beneath("c39"), "inside") << "c39 to c0: forty links";
    int error = 0;
    EXPECT_EQ(read_beneath("c40", &error), "-");
    EXPECT_EQ(error, ELOOP);
}

// The root is read from service_root at every request: a program or a test
// may set it, change it, or set one that is no directory; nothing is served
// from outside it meanwhile.
TEST_P(Confine, TheRootIsTheSettingOfTheMoment) {
    service_root = outside.c_str();
    EXPECT_EQ(read_beneath("secret.txt"), "secret");
    EXPECT_EQ(read_beneath("file.txt"), "-");
    service_root = root.c_str();
    EXPECT_EQ(read_beneath("file.txt"), "inside");

    const std::string file_root = outside + "/secret.txt";
    service_root = file_root.c_str();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(confine_open_root());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "open: " + file_root + ": Not a directory\n");
    EXPECT_EQ(open("new.txt", "w"), nullptr);
    EXPECT_EQ(confine_remove("file.txt"), -1);
    EXPECT_EQ(confine_rename("file.txt", "x.txt"), -1);
    EXPECT_EQ(confine_opendir("."), nullptr);
    EXPECT_FALSE(exists("new.txt")) << "no fall back to the working directory";

    const std::string missing = base + "/missing";
    service_root = missing.c_str();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(confine_open_root());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "open: " + missing + ": No such file or directory\n");
    EXPECT_EQ(open("new.txt", "w"), nullptr);

    service_root = nullptr;
    EXPECT_TRUE(confine_open_root()) << "no root, nothing to open";
    expect_outside_untouched();
    EXPECT_EQ(read_text(root + "/file.txt"), "inside");
}

INSTANTIATE_TEST_SUITE_P(KernelAndWalk, Confine, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Walk" : "Kernel"; });

}  // namespace tolvane
