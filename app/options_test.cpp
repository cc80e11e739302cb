#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Inside the namespace, so that the names are ours and not the C library's.
namespace tolvane {

namespace {

const char* const kOptions = "qQrRc:C:b:B:";

struct Scan {
    std::string letters;  // letters returned before -1 (or '?')
    int stopped_at;       // optind at the end
    std::string output;   // what the scanner printed
    std::vector<std::string> args;  // optarg of each letter, "" for none
};

Scan scan(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    optind = 1;
    optpos = 1;
    opterr = 1;
    Scan result{};
    testing::internal::CaptureStdout();
    int c;
    while ((c = getopt(static_cast<int>(words.size()), argv.data(), kOptions)) != -1) {
        result.letters += static_cast<char>(c);
        result.args.push_back(optarg ? optarg : "");
        if (c == '?') break;
    }
    result.output = testing::internal::GetCapturedStdout();
    result.stopped_at = optind;
    return result;
}

}  // namespace

TEST(Getopt, StopsAtTheFirstWordAndAtLoneDash) {
    auto s = scan({"tolvane", "-q", "reset", "board"});
    EXPECT_EQ(s.letters, "q");
    EXPECT_EQ(s.stopped_at, 2);

    s = scan({"tolvane", "-b", "9600", "ls", "-l"});
    EXPECT_EQ(s.letters, "b");
    EXPECT_EQ(s.args[0], "9600");
    EXPECT_EQ(s.stopped_at, 3);

    s = scan({"tolvane", "-", "x"});
    EXPECT_EQ(s.letters, "");
    EXPECT_EQ(s.stopped_at, 1);

    s = scan({"tolvane", "--", "-x"});
    EXPECT_EQ(s.letters, "");
    EXPECT_EQ(s.stopped_at, 2);

    s = scan({"tolvane"});
    EXPECT_EQ(s.letters, "");
    EXPECT_EQ(s.stopped_at, 1);
    EXPECT_EQ(s.output, "");
}

TEST(Getopt, ClustersLettersWithoutArguments) {
    auto s = scan({"tolvane", "-qRr", "-C", "/dev/x", "-B", "300", "w"});
    EXPECT_EQ(s.letters, "qRrCB");
    EXPECT_EQ(s.args[3], "/dev/x");
    EXPECT_EQ(s.args[4], "300");
    EXPECT_EQ(s.stopped_at, 6);
    EXPECT_EQ(s.args[0], "");  // optarg is cleared for letters without one
}

TEST(Getopt, EachErrorHasItsMessage) {
    struct Case {
        std::vector<std::string> words;
        std::string message;
    } cases[] = {
        {{"tv", "-qc", "COM2"}, "tv: option must not be clustered -- c\n"},
        {{"tv", "-b9600"}, "tv: option must be followed by white space -- b\n"},
        {{"tv", "-b"}, "tv: option requires an argument -- b\n"},
        {{"tv", "-x"}, "tv: illegal option -- x\n"},
        {{"tv", "-:"}, "tv: illegal option -- :\n"},
        {{"tv", "-q", "-c"}, "tv: option requires an argument -- c\n"},
    };
    for (auto& c : cases) {
        const auto s = scan(c.words);
        ASSERT_FALSE(s.letters.empty());
        EXPECT_EQ(s.letters.back(), '?') << c.message;
        EXPECT_EQ(s.output, c.message);
    }
}

TEST(Getopt, OpterrZeroKeepsQuiet) {
    std::string a0 = "tv", a1 = "-x";
    char* argv[] = {a0.data(), a1.data(), nullptr};
    optind = 1;
    optpos = 1;
    opterr = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(getopt(2, argv, kOptions), '?');
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(getopt_error("p", "m", 'z'), '?');
    opterr = 1;
}

}  // namespace tolvane
