// Names beneath the service root, each case twice: resolved by the kernel
// (openat2) and by the component walk. The escapes themselves are tried end
// to end (tests/e2e_confine_test.cpp), against both ways too.
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

#include "base/settings.h"
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
        link("../../outside", "up");  // climbs: stops at the root
        link("sub/inner.txt", "rel");
        link(".", "self");
        confine_walk_only = GetParam();
        confine_open_root(root.c_str());
    }

    void TearDown() override {
        confine_open_root(nullptr);
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

// Remove and rename act on the final name itself, a link included, as the
// C library's do; the root is never theirs, by any name for it.
TEST_P(Confine, RemoveAndRenameActOnTheNameItself) {
    EXPECT_EQ(confine_remove("sub"), -1) << "not empty";
    EXPECT_EQ(confine_remove("sub/deeper/"), 0) << "an empty directory, as remove(3) takes";
    EXPECT_FALSE(exists(root + "/sub/deeper"));
    EXPECT_EQ(confine_remove("sub/inner.txt/"), -1) << "a trailing slash wants a directory";
    EXPECT_EQ(confine_rename("sub/inner.txt/", "x"), -1);
    EXPECT_TRUE(exists(root + "/sub/inner.txt"));
    EXPECT_EQ(confine_remove("rel"), 0);
    EXPECT_FALSE(exists(root + "/rel"));
    EXPECT_TRUE(exists(root + "/sub/inner.txt")) << "what the link pointed to stays";
    EXPECT_EQ(confine_rename("up", "sub/up"), 0);
    struct stat st;
    ASSERT_EQ(lstat((root + "/sub/up").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link moved, not what it points to";
    EXPECT_EQ(confine_rename("sub/up", "../../up"), 0);
    EXPECT_TRUE(exists(root + "/up"));

    for (const char* name : {"", ".", "..", "/", "//", "sub/..", "self/.", "self/"}) {
        EXPECT_EQ(confine_remove(name), -1) << '"' << name << '"';
        EXPECT_EQ(confine_rename(name, "x"), -1) << '"' << name << '"';
        EXPECT_EQ(confine_rename("file.txt", name), -1) << '"' << name << '"';
    }
    EXPECT_TRUE(exists(root + "/file.txt"));
    EXPECT_EQ(confine_remove("self"), 0) << "the link named self";
    EXPECT_TRUE(exists(root));
    expect_outside_untouched();
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

// The root set last counts for every request: a program or a test may set
// it, change it, or set one that is no directory; nothing is served
// from outside it meanwhile.
TEST_P(Confine, TheRootIsTheSettingOfTheMoment) {
    confine_open_root(outside.c_str());
    EXPECT_EQ(read_beneath("secret.txt"), "secret");
    EXPECT_EQ(read_beneath("file.txt"), "-");
    confine_open_root(root.c_str());
    EXPECT_EQ(read_beneath("file.txt"), "inside");

    const std::string file_root = outside + "/secret.txt";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(confine_open_root(file_root.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "open: " + file_root + ": Not a directory\n");
    EXPECT_EQ(open("new.txt", "w"), nullptr);
    EXPECT_EQ(confine_remove("file.txt"), -1);
    EXPECT_EQ(confine_rename("file.txt", "x.txt"), -1);
    EXPECT_EQ(confine_opendir("."), nullptr);
    EXPECT_FALSE(exists("new.txt")) << "no fall back to the working directory";

    const std::string missing = base + "/missing";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(confine_open_root(missing.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "open: " + missing + ": No such file or directory\n");
    EXPECT_EQ(open("new.txt", "w"), nullptr);

    EXPECT_TRUE(confine_open_root(nullptr)) << "no root, nothing to open";
    expect_outside_untouched();
    EXPECT_EQ(read_text(root + "/file.txt"), "inside");
}

INSTANTIATE_TEST_SUITE_P(KernelAndWalk, Confine, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Walk" : "Kernel"; });

}  // namespace tolvane
