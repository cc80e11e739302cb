// A run that ends by what the target prints, for tests on the board in CI
// (--expect, --fail, --send): the target's text is matched line by line
// against the patterns, and the steps run in the order of the command line.
//
// The watch only records: the loop asks for the outcome and the texts to
// send once the byte it handed over is done (terminal/rules.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/settings.h"

namespace tolvane {

// A longer line is matched in parts of this many bytes, each part as an
// unfinished line (so ^ matches only at the start of the first).
constexpr size_t WATCH_LINE_MAX = 4096;

enum class watch_result { running, passed, failed };

// Forgets every pattern and step.
void watch_clear();
// Each adds a step or pattern in command-line order. A pattern that does
// not compile gives false and the engine's reason; a text with an unknown
// escape gives false.
bool watch_add_expect(const char* pattern, std::string* error);
bool watch_add_fail(const char* pattern, std::string* error);
bool watch_add_send(const char* text);
// A file sent by --ymodem or --xmodem in its turn.
void watch_add_transfer(const watch_step& step);
// True when the run has patterns to match.
bool watch_has_patterns();

// Whether a step would be taken: a pattern that compiles, a text without
// an unknown escape. False with the reason (the engine's, for a pattern).
bool watch_step_valid(const watch_step& step, std::string* why);
// The steps of the settings, in order (each valid), then watch_begin.
void watch_start(const std::vector<watch_step>& steps);

// The run starts: the texts before the first --expect are due at once.
void watch_begin();

// A byte of target text, as the target sent it (form feeds and file
// requests never come here). A line ends at LF; a CR before it is no part
// of the line, and NUL bytes are left out. Inline below: it runs for every
// byte.
inline void watch_put(int byte);
// True once the text decided the run (watch_outcome is not running), or a
// transfer step's turn came and the text stops for it.
inline bool watch_decided();
// Everything received so far was handed over: the unfinished line is
// matched as it stands ($ does not match at its end yet).
void watch_line_quiet();

// passed once every --expect matched in order (never with none given);
// failed once a line matched a --fail pattern. It then stays so.
watch_result watch_outcome();
// The line that matched a --fail pattern, without its line end.
const std::string& watch_failed_line();
// The --expect pattern the run waits for now; empty when none.
std::string watch_awaited();

// A transfer step's turn came: the text stops before the next byte, which
// is the transfer's (term_text_decided). The first call hands the step out
// (true) and the text waits until watch_transfer_ended.
bool watch_take_transfer(watch_step* step);
// The transfer of the step ended: the steps go on, or, when it failed,
// the run has failed with why.
void watch_transfer_ended(bool ok, const std::string& why);

// Bytes of --send texts that are due, and the next of them (-1: none).
size_t watch_sends_due();
int watch_take_send();

// The bytes of a --send text: \r, \n, \t, \\ and \xN or \xNN (hex) are
// escapes. False on any other backslash.
bool unescape_text(const char* text, std::string* bytes);

// Literals of which every match of pattern holds at least one; empty when
// no such set was found. Only text that holds one goes to the engine.
std::vector<std::string> required_literals(const char* pattern);

// What watch_put needs inline; only watch.cpp and watch_put touch it.
namespace watch_state {
// handing_over and decided stop the text; transferring holds the watch
// while a transfer step has the line.
enum mode { off, matching, transferring, handing_over, decided };
extern mode now;
extern char line[WATCH_LINE_MAX + 1];
extern size_t line_length;
// Bytes up to LF (NUL and LF among them), and the byte that fills a part.
void put_slowly(int byte);
}  // namespace watch_state

inline void watch_put(int byte) {
    using namespace watch_state;
    if (now != matching) return;
    if (byte <= '\n' || line_length == WATCH_LINE_MAX - 1)
        put_slowly(byte);
    else
        line[line_length++] = static_cast<char>(byte);
}

inline bool watch_decided() { return watch_state::now >= watch_state::handing_over; }
// A transfer step's turn came and it has not been taken yet.
inline bool watch_transfer_due() { return watch_state::now == watch_state::handing_over; }

}  // namespace tolvane
