#include "terminal/events.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "terminal/session.h"

using namespace tolvane;

namespace {

// The fields' values escaped as JSON strings; the time with microseconds.
TEST(Events, JsonEscapesEveryByteThatNeedsIt) {
    const struct {
        std::string value;
        const char* json;
    } cases[] = {
        {"plain text", "plain text"},
        {"a \"quoted\" \\ path", "a \\\"quoted\\\" \\\\ path"},
        {"tab\there\r", "tab\\there\\r"},
        {std::string("nul\0bell\x07", 9), "nul\\u0000bell\\u0007"},
        {"caf\xc3\xa9 \x7f", "caf\\u00c3\\u00a9 \\u007f"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(events_json(12.5, "text", {{"text", c.value}}),
                  std::string("{\"time\": 12.500000, \"event\": \"text\", \"text\": \"") + c.json + "\"}\n");
}

// The board's text in any pieces: one event a line, the line end (LF, or
// CR LF) left out, an unfinished line told at the end, a long one in pieces.
TEST(Events, TextIsToldLineByLine) {
    const char* path = "events_test.jsonl";
    std::remove(path);
    {
        session s;
        ASSERT_TRUE(events_open(s, path));
        const std::string text = "boot\r\nre" "ady\n\n" + std::string(EVENTS_TEXT_MAX + 1, 'x') + "\nrest";
        for (size_t at = 0; at < text.size(); at += 3) {
            const size_t n = std::min<size_t>(3, text.size() - at);
            events_text(s, reinterpret_cast<const unsigned char*>(text.data()) + at, n);
        }
        events_request(s, "fopen(t.txt,w) = 1");
        events_close(s);
    }
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> told;
    while (std::getline(in, line)) told.push_back(line.substr(line.find("\"event\"")));
    std::remove(path);
    const std::vector<std::string> expected = {
        "\"event\": \"text\", \"text\": \"boot\"}",
        "\"event\": \"text\", \"text\": \"ready\"}",
        "\"event\": \"text\", \"text\": \"\"}",
        "\"event\": \"text\", \"text\": \"" + std::string(EVENTS_TEXT_MAX, 'x') + "\"}",
        "\"event\": \"text\", \"text\": \"x\"}",
        "\"event\": \"request\", \"call\": \"fopen(t.txt,w) = 1\"}",
        "\"event\": \"text\", \"text\": \"rest\"}",
    };
    EXPECT_EQ(told, expected);
}

}  // namespace
