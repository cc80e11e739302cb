#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/option_table.h"

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
    testing::internal::CaptureStderr();
    int c;
    while ((c = getopt(static_cast<int>(words.size()), argv.data(), kOptions)) != -1) {
        result.letters += static_cast<char>(c);
        result.args.push_back(optarg ? optarg : "");
        if (c == '?') break;
    }
    result.output = testing::internal::GetCapturedStderr();
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
    testing::internal::CaptureStderr();
    EXPECT_EQ(getopt(2, argv, kOptions), '?');
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(getopt_error("p", "m", 'z'), '?');
    opterr = 1;
}

// Long options beside the letters: --name, --name=VALUE, --name VALUE;
// an optional value only after '='.
TEST(LongOptions, ValuesAndErrors) {
    const long_option table[] = {
        {"hex", long_arg::none, 1}, {"dtr", long_arg::required, 2}, {"timestamp", long_arg::optional, 3}};
    struct Case {
        std::vector<std::string> words;
        int id;
        const char* value;  // null: no optarg
        int next;           // optind afterwards
        std::string output;
    } cases[] = {
        {{"tv", "--hex", "w"}, 1, nullptr, 2, ""},
        {{"tv", "--dtr", "off"}, 2, "off", 3, ""},
        {{"tv", "--dtr=on"}, 2, "on", 2, ""},
        {{"tv", "--dtr="}, 2, "", 2, ""},
        {{"tv", "--timestamp", "x"}, 3, nullptr, 2, ""},
        {{"tv", "--timestamp=iso8601"}, 3, "iso8601", 2, ""},
        {{"tv", "--dtr"}, '?', nullptr, 2, "tv: option requires an argument -- --dtr\n"},
        {{"tv", "--hex=1"}, '?', nullptr, 2, "tv: option takes no argument -- --hex\n"},
        {{"tv", "--he"}, '?', nullptr, 2, "tv: illegal option -- --he (did you mean --hex?)\n"},
        {{"tv", "--dtr-x=1"}, '?', nullptr, 2, "tv: illegal option -- --dtr-x\n"},
    };
    for (auto& c : cases) {
        std::vector<char*> argv;
        for (auto& w : c.words) argv.push_back(w.data());
        argv.push_back(nullptr);
        const int argc = static_cast<int>(c.words.size());
        optind = 1;
        optpos = 1;
        ASSERT_TRUE(at_long_option(argc, argv.data())) << c.words[1];
        testing::internal::CaptureStderr();
        EXPECT_EQ(get_long_option(argc, argv.data(), table, 3), c.id) << c.words[1];
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.output);
        EXPECT_EQ(optarg ? std::string(optarg) : "(none)", c.value ? c.value : "(none)") << c.words[1];
        EXPECT_EQ(optind, c.next) << c.words[1];
    }
    // "--" ends the options; "-" and plain words are no options at all.
    for (std::vector<std::string> words : {std::vector<std::string>{"tv", "--"}, {"tv", "-"}, {"tv", "x"}, {"tv"}}) {
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        optind = 1;
        optpos = 1;
        EXPECT_FALSE(at_long_option(static_cast<int>(words.size()), argv.data()));
    }
}

// --request-timeout, on the command line and as a profile's key alike
// (the same row): seconds as --timeout takes them, kept in milliseconds;
// a tiny one never becomes the 0 that waits for ever.
TEST(RequestTimeout, SecondsToMillisecondsAndErrors) {
    const option_row* row = option_named("request-timeout");
    ASSERT_NE(row, nullptr);
    const struct {
        const char* arg;
        long long ms;  // -1: refused
    } cases[] = {
        {"0", 0}, {"1", 1000}, {"2.5", 2500}, {".5", 500}, {"0.0001", 1},
        {"x", -1}, {"-1", -1}, {"1s", -1}, {"", -1},
    };
    for (const auto& c : cases) {
        settings s;
        std::string message;
        const bool taken = row->apply(c.arg, &s, &message);
        EXPECT_EQ(taken, c.ms >= 0) << c.arg;
        EXPECT_EQ(s.files.request_timeout_ms, taken ? c.ms : REQUEST_TIMEOUT_DEFAULT_MS) << c.arg;
        if (!taken) {
            EXPECT_EQ(message, "option needs a number of seconds") << c.arg;
        }
    }
}

}  // namespace tolvane

namespace tolvane {

// A mistyped long option names the one surely meant, and only then.
TEST(LongOptions, ClosestNameToAMistypedOne) {
    const long_option table[] = {{"baudrate", long_arg::required, 1}, {"device", long_arg::required, 2},
                                 {"no-erase", long_arg::none, 3},     {"output-delay", long_arg::required, 4},
                                 {"output-line-delay", long_arg::required, 5}, {"hex", long_arg::none, 6}};
    const struct {
        const char* typed;
        const char* meant;  // null: none near
    } cases[] = {
        {"baud", "baudrate"},            // cut short
        {"devcie", "device"},            // two letters swapped
        {"no-erse", "no-erase"},         // one left out
        {"output-dealy", "output-delay"},
        {"output-line-dealy", "output-line-delay"},
        {"hax", "hex"},
        {"x", nullptr},
        {"frobnicate", nullptr},
        {"b", nullptr},  // one letter begins too much to say
    };
    for (const auto& c : cases) {
        const char* got = closest_long_option(c.typed, table, 6);
        if (c.meant == nullptr)
            EXPECT_EQ(got, nullptr) << c.typed << " -> " << got;
        else
            EXPECT_STREQ(got, c.meant) << c.typed;
    }
}

}  // namespace tolvane
