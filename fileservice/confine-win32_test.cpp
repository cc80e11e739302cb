// Names beneath the service root in tolvane-win: joined to the root, ".."
// taken lexically, devices and odd names refused. Links that lead out are
// made by the end-to-end tests, from the Linux side.
#include <direct.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/settings.h"
#include "fileservice/confine.h"
#include "fileservice/find.h"

namespace tolvane {

namespace {

const std::string kBase = "confine-win32-test";
const std::string kRoot = kBase + "\\root";
const std::string kOutside = kBase + "\\outside";

void make_file(const std::string& path, const std::string& content) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fputs(content.c_str(), f);
    std::fclose(f);
}

std::string file_text(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return "-";
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    return text;
}

bool exists(const std::string& path) {
    struct _stat st;
    return _stat(path.c_str(), &st) == 0;
}

class ConfineWin32 : public testing::Test {
protected:
    void SetUp() override {
        std::system(("rmdir /s /q " + kBase + " 2>nul").c_str());
        ASSERT_EQ(_mkdir(kBase.c_str()), 0);
        ASSERT_EQ(_mkdir(kRoot.c_str()), 0);
        ASSERT_EQ(_mkdir(kOutside.c_str()), 0);
        ASSERT_EQ(_mkdir((kRoot + "\\sub").c_str()), 0);
        make_file(kRoot + "\\file.txt", "inside");
        make_file(kRoot + "\\noext", "");
        make_file(kRoot + "\\sub\\inner.txt", "inner");
        make_file(kOutside + "\\secret.txt", "secret");
        confine_open_root(kRoot.c_str());
    }
    void TearDown() override {
        confine_open_root(nullptr);
        std::system(("rmdir /s /q " + kBase + " 2>nul").c_str());
    }

    FILE* open(const std::string& name, const char* mode) {
        return confine_fopen(name.c_str(), mode, open_mode_parse(mode));
    }
    std::string read_beneath(const std::string& name) {
        FILE* f = open(name, "rb");
        if (f == nullptr) return "-";
        std::string text;
        for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
        std::fclose(f);
        return text;
    }
    void expect_outside_untouched() {
        EXPECT_EQ(file_text(kOutside + "\\secret.txt"), "secret");
        EXPECT_FALSE(exists(kOutside + "\\new.txt"));
        EXPECT_FALSE(exists(kBase + "\\new.txt"));
        EXPECT_FALSE(exists(kBase + "\\moved.txt"));
    }

    // Name and attributes of every entry a pattern lists.
    std::map<std::string, unsigned> listing(const std::string& pattern, int* first = nullptr) {
        std::map<std::string, unsigned> found;
        find_record r{};
        int result = find_first(pattern.c_str(), &r);
        if (first) *first = result;
        for (; result == 0 && found.size() < 100; result = find_next(&r)) found[r.name] = r.attributes;
        return found;
    }
};

}  // namespace

// Names Windows itself reads as something else: devices in any directory,
// and parts that end in dots or spaces, which it trims ("..." to "..").
TEST_F(ConfineWin32, DevicesAndTrimmedNamesAreRefused) {
    for (const char* name : {"NUL", "nul.txt", "sub\\CON", "COM1", "aux", "...", "...\\..\\x.txt", "sub\\...\\new.txt",
                             "new.txt.", "new.txt ", "sub. \\x", ". \\new.txt"}) {
        EXPECT_EQ(open(name, "w"), nullptr) << name;
        EXPECT_EQ(confine_remove(name), -1) << name;
    }
    // The root itself, by any of its names, is neither opened, removed nor renamed.
    for (const char* name : {"", ".", "..", "\\", "C:\\", "sub\\..", "..\\.."}) {
        EXPECT_EQ(open(name, "r"), nullptr) << name;
        EXPECT_EQ(confine_remove(name), -1) << name;
        EXPECT_EQ(confine_rename(name, "x"), -1) << name;
        EXPECT_EQ(confine_rename("sub", name), -1) << name;
    }
    EXPECT_TRUE(exists(kRoot + "\\sub"));
    FILE* f = open("..\\..\\new.txt", "w");
    ASSERT_NE(f, nullptr) << "an ordinary name";
    std::fclose(f);
    EXPECT_TRUE(exists(kRoot + "\\new.txt"));
    expect_outside_untouched();
}

TEST_F(ConfineWin32, SearchesListTheRootWhereverThePatternClimbs) {
    const std::map<std::string, unsigned> top = listing("*");
    EXPECT_TRUE(top.count("file.txt"));
    EXPECT_TRUE(top.count("sub"));
    EXPECT_FALSE(top.count("secret.txt"));
    for (const char* pattern : {"..\\*", "\\*", "C:*", "C:\\..\\*", "sub\\..\\..\\*", "/*"}) {
        EXPECT_EQ(listing(pattern), top) << pattern;
    }
    EXPECT_EQ(top.at("sub") & 0x10, 0x10u);
    // The root's ".." is its parent: listed, but nothing of it told.
    if (top.count("..")) {
        EXPECT_EQ(top.at(".."), 0u);
    }

    // Wildcards match as the run-time's do in the root; "*." included.
    for (const char* pattern : {"*.txt", "*.", "s?b", "SUB\\*", "no*"}) {
        std::set<std::string> plain;
        _finddata_t entry;
        const intptr_t h = _findfirst((kRoot + "\\" + pattern).c_str(), &entry);
        for (int r = h == -1 ? -1 : 0; r == 0; r = _findnext(h, &entry)) plain.insert(entry.name);
        if (h != -1) _findclose(h);
        std::set<std::string> confined;
        for (const auto& e : listing(pattern)) confined.insert(e.first);
        EXPECT_EQ(confined, plain) << pattern;
    }
    int first = 0;
    EXPECT_TRUE(listing("..\\outside\\*", &first).empty());
    EXPECT_NE(first, 0);
    EXPECT_TRUE(listing("..", &first).empty());
    EXPECT_NE(first, 0);
    EXPECT_TRUE(listing("NUL\\*", &first).empty());
    EXPECT_NE(first, 0);
}

TEST_F(ConfineWin32, ARootThatIsNoDirectoryServesNothing) {
    const std::string file_root = kOutside + "\\secret.txt";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(confine_open_root(file_root.c_str()));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("open: " + file_root + ": ", 0), 0u) << said;
    EXPECT_GT(said.size(), file_root.size() + 9) << "and the system's text";
    EXPECT_EQ(said.back(), '\n');
    EXPECT_EQ(open("new.txt", "w"), nullptr);
    EXPECT_EQ(confine_remove("file.txt"), -1);
    EXPECT_FALSE(exists("new.txt")) << "no fall back to the working directory";

    EXPECT_TRUE(confine_open_root(kRoot.c_str()));
    EXPECT_EQ(read_beneath("file.txt"), "inside");
    EXPECT_TRUE(confine_open_root(nullptr));
}

}  // namespace tolvane
