// One pattern dialect in both programs: a table of --expect patterns, each
// taken or refused alike by tolvane and by tolvane-win under Wine, and
// matching the board's text alike.
#include <gtest/gtest.h>

#include "tests/win_harness.h"

using namespace win_e2e;

namespace {

constexpr int REFUSED = 2;  // a usage error
constexpr int MATCHED = 0;
constexpr int NOT_MATCHED = 1;  // the --fail line after the text came first

struct Outcome {
    int status;
    std::string said;  // the first line of its errors, without the program's name
};

// One program with the pattern, the board's text then "END" on its line
// once it runs (one that refuses the pattern ends at once).
Outcome run_with(bool windows, const std::string& pattern, const std::string& board, bool refused) {
    Line line = line_open(51);
    const std::vector<std::string> args{"--expect", pattern, "--fail", "^END", "-c", windows ? "COM51" : line.path};
    std::vector<std::string> argv{TOLVANE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    Program run = windows ? start(args) : start_program(argv);
    if (!refused && output_wait_for(run, "Exit with Ctrl-Q", 10000)) line_write(line, bytes(board + "\r\nEND\r\n"));
    const int status = finish(run);
    line_close(line);
    const std::string out = dos_newlines_to_unix(run.errors);
    const std::string first = out.substr(0, out.find('\n'));
    const size_t name_end = first.find(": ");
    return {status, status == REFUSED && name_end != std::string::npos ? first.substr(name_end + 2) : ""};
}

}  // namespace

TEST(WinPatterns, AreTakenRefusedAndMatchedAsInTolvane) {
    const struct {
        const char* pattern;
        const char* board;
        int status;
    } cases[] = {
        // The GNU escapes a CI job written on Linux uses.
        {"\\bPASS\\b", "all PASS here", MATCHED},
        {"\\bPASS\\b", "PASSED", NOT_MATCHED},
        {"\\w+ ok", "test_1 ok", MATCHED},
        {"\\w+ ok", "- ok", NOT_MATCHED},
        {"\\s*PASS", "   PASS", MATCHED},
        {"\\S+", "   ", NOT_MATCHED},
        {"\\<word\\>", "a word here", MATCHED},
        {"\\<word\\>", "swordfish", NOT_MATCHED},
        {"\\Bss", "pass", MATCHED},
        {"\\d+ passed", "7 passed", MATCHED},
        {"\\d", "d", NOT_MATCHED},
        {"\\D", "7", NOT_MATCHED},
        // POSIX extended expressions, per line.
        {"^PASS$", "PASS", MATCHED},
        {"^PASS$", "PASS!", NOT_MATCHED},
        {"[[:digit:]]+ tests? passed", "12 tests passed", MATCHED},
        {"a{2,3}t", "caaat", MATCHED},
        {"a{2,3}t", "cat", NOT_MATCHED},
        {"x{,2}y", "xxy", MATCHED},
        {"(ok|fine)$", "all fine", MATCHED},
        {"(a|)b", "b", MATCHED},
        // UTF-8 on the command line, as the board sends it.
        {"caf\xC3\xA9 \xE2\x9C\x93 ok", "caf\xC3\xA9 \xE2\x9C\x93 ok", MATCHED},
        {"caf\xC3\xA9 ok", "cafe ok", NOT_MATCHED},
        // Refused by both, with the same reason.
        {"(", "", REFUSED},
        {"(a)\\1", "", REFUSED},
        {"*x", "", REFUSED},
        {"a**", "", REFUSED},
        {"a|*b", "", REFUSED},
        {"[b-a]", "", REFUSED},
        {"a{3,2}", "", REFUSED},
    };
    for (const auto& c : cases) {
        const Outcome native = run_with(false, c.pattern, c.board, c.status == REFUSED);
        const Outcome windows = run_with(true, c.pattern, c.board, c.status == REFUSED);
        EXPECT_EQ(native.status, c.status) << "tolvane: " << c.pattern << " on " << c.board;
        EXPECT_EQ(windows.status, c.status) << "tolvane-win: " << c.pattern << " on " << c.board;
        EXPECT_EQ(windows.said, native.said) << c.pattern;
        if (c.status == REFUSED) {
            EXPECT_NE(native.said.find("bad pattern"), std::string::npos) << native.said;
        }
    }
}
