// Names beneath the service root in tolvane-win: joined to the root, ".."
// taken lexically, devices and odd names refused. Links that lead out are
// made by the end-to-end tests, from the Linux side.
#include <windows.h>
#include <direct.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/settings.h"
#include "fileservice/confine-win32.h"
#include "fileservice/confine.h"
#include "fileservice/find.h"
#include "fileservice/wide_names-win32.h"

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

TEST(DosDeviceNames, AreThoseWindowsOpensAsDevicesInAnyDirectory) {
    const struct {
        const char* name;
        bool device;
    } cases[] = {
        {"CON", true},           {"con", true},          {"CONIN$", true},        {"conout$", true},
        {"PRN", true},           {"AUX", true},          {"NUL", true},           {"nul.txt", true},
        {"Nul.tar.gz", true},    {"sub\\aux.c", true},  {"C:\\tmp\\CON", true},  {"C:con", true},
        {"a/b/prn.log", true},   {"NUL ", true},         {"nul .txt", true},      {"COM1", true},
        {"com9.txt", true},      {"COM1:", true},        {"lpt3", true},          {"LPT9.log", true},
        {"COM\xB9", true},       {"lpt\xC2\xB2.txt", true}, {"\\\\.\\COM5", true}, {"\\\\?\\C:\\x.txt", true},
        {"//./nul", true},       {"\\\\.\\pipe\\x", true}, {"CONIN$.txt", true},
        {"console.txt", false},  {"COM10", false},       {"COM0", false},         {"LPT", false},
        {"lpt0.log", false},     {"nul_x", false},       {"xnul", false},         {"CON\\x.txt", false},
        {"NULL", false},         {"CONOUT", false},      {"COM1x", false},        {"COM\xB4", false},
        {"\\\\server\\share\\a.txt", false}, {"", false}, {".", false}, {"..\\nul\\x", false},
    };
    for (const auto& c : cases) EXPECT_EQ(names_dos_device(c.name), c.device) << c.name;
}

// Without -d the C library opens the target's names, never a device: the
// console's input would wait for keys, a port would be taken.
TEST(ConfineWithoutRoot, OpensFilesButNoDevice) {
    confine_open_root(nullptr);
    for (const char* name : {"CON", "CONIN$", "conout$", "NUL", "nul.txt", "sub\\aux.c", "\\\\.\\COM5", "//./CON",
                             "COM1:", "\\\\.\\CONIN$", "\\\\?\\CON"}) {
        for (const char* mode : {"rb", "r+b", "w", "a"}) {
            EXPECT_EQ(confine_fopen(name, mode, open_mode_parse(mode)), nullptr) << name << " " << mode;
        }
    }
    const std::string name = "confine-without-root.txt";
    FILE* f = confine_fopen(name.c_str(), "wb", open_mode_parse("wb"));
    ASSERT_NE(f, nullptr) << "an ordinary file";
    std::fputs("x", f);
    std::fclose(f);
    f = confine_fopen(name.c_str(), "rb", open_mode_parse("rb"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fgetc(f), 'x');
    std::fclose(f);
    std::remove(name.c_str());
}

// Beneath the root a device's name is a file only where a regular file by
// that name is there (made here through \\?\, as another program could).
TEST_F(ConfineWin32, ADeviceNameIsAFileOnlyWhereOneIsThere) {
    char sub[MAX_PATH];  // the directory: Windows reads sub\con.txt itself as \\.\con
    ASSERT_NE(GetFullPathNameA((kRoot + "\\sub").c_str(), MAX_PATH, sub, nullptr), 0u);
    make_file(std::string("\\\\?\\") + sub + "\\con.txt", "a file named con.txt");
    EXPECT_EQ(read_beneath("sub\\con.txt"), "a file named con.txt");
    EXPECT_EQ(read_beneath("SUB\\CON.TXT"), "a file named con.txt");
    FILE* f = open("sub\\con.txt", "ab");
    ASSERT_NE(f, nullptr) << "written as any file";
    std::fputs("!", f);
    std::fclose(f);
    EXPECT_EQ(read_beneath("sub\\con.txt"), "a file named con.txt!");
    for (const char* name : {"con.txt", "sub\\con", "sub\\nul.txt", "CONIN$", "\\\\.\\CONIN$", "sub\\COM1"}) {
        for (const char* mode : {"rb", "wb", "a"}) EXPECT_EQ(open(name, mode), nullptr) << name << " " << mode;
    }
    EXPECT_EQ(confine_rename("sub\\con.txt", "sub\\plain.txt"), 0);
    EXPECT_EQ(read_beneath("sub\\plain.txt"), "a file named con.txt!");
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

// A UTF-8 name is the file by that name, made, opened, renamed, found (in
// UTF-8) and removed; a name that is not UTF-8 is read in the ANSI code
// page, and where that page has the same letters it is the same file.
TEST_F(ConfineWin32, Utf8NamesAreTheFilesOfThoseNames) {
    const std::string ete = "\xC3\xA9t\xC3\xA9.txt";  // été.txt
    const std::string check = "\xE2\x9C\x93";           // ✓
    FILE* f = open(ete, "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("summer", f);
    std::fclose(f);
    EXPECT_NE(GetFileAttributesW((wide_name(kRoot.c_str()) + L"\\\x00E9t\x00E9.txt").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << "the file's own name is \"\u00e9t\u00e9.txt\"";
    EXPECT_EQ(read_beneath(ete), "summer");
    EXPECT_EQ(listing("*.txt").count(ete), 1u) << "found by its UTF-8 name";
    EXPECT_EQ(listing("\xC3\xA9*").size(), 1u) << "a UTF-8 pattern";
    EXPECT_EQ(confine_rename(ete.c_str(), (check + ".txt").c_str()), 0);
    EXPECT_EQ(read_beneath(check + ".txt"), "summer");
    if (wide_name("\xE9") == L"\x00E9") {  // Windows-1252 and its kin
        EXPECT_EQ(confine_rename((check + ".txt").c_str(), "\xE9t\xE9.txt"), 0);
        EXPECT_EQ(read_beneath(ete), "summer") << "the ANSI name is the same file";
    } else {
        EXPECT_EQ(confine_rename((check + ".txt").c_str(), ete.c_str()), 0);
    }
    EXPECT_EQ(confine_remove(ete.c_str()), 0);
    EXPECT_EQ(read_beneath(ete), "-");
    confine_open_root(nullptr);
    const std::string bare = "confine-\xC3\xA9t\xC3\xA9.txt";  // and without a root
    f = confine_fopen(bare.c_str(), "w", open_mode_parse("w"));
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_NE(GetFileAttributesW(L"confine-\x00E9t\x00E9.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(confine_remove(bare.c_str()), 0);
    EXPECT_EQ(GetFileAttributesW(L"confine-\x00E9t\x00E9.txt"), INVALID_FILE_ATTRIBUTES);
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
