// The patterns of --expect and --fail: POSIX extended expressions as the
// GNU C library takes them, with the GNU escapes \w \W \s \S \b \B \< \>
// and \d \D, one engine of our own for both programs (matcher.cpp).
//
// The engine runs the expression as a set of states over the text (a
// Thompson automaton), never backtracking: a search takes time in
// proportion to the text's length times the pattern's compiled size, and
// memory in proportion to the pattern alone. Back-references, which no
// such engine can run, are refused.
//
// Matching is byte by byte and case-sensitive: UTF-8 text is matched as
// its bytes, classes such as [:alpha:] and \w hold ASCII bytes only.
//
// Where it parts from the C library: a backslash before a letter or digit
// not named above is refused (the C library takes "\t" for "t"), "\`" and
// "\'" are the characters (there the text's start and end), a ")" without
// its "(" is refused, and so are a repetition of a repetition and counts
// above 255.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace tolvane {

// A pattern is refused where its compiled form would grow past this many
// atoms (each literal, bracket expression, anchor and the bookkeeping of
// groups and repetitions, the repetitions spelled out: "a{3}" is 3,
// "(a{1,255}){1,255}" far too many), where a count in braces is above
// MATCHER_COUNT_MAX, or where groups nest deeper than MATCHER_DEPTH_MAX.
constexpr size_t MATCHER_SIZE_MAX = 10000;
constexpr int MATCHER_COUNT_MAX = 255;
constexpr int MATCHER_DEPTH_MAX = 255;

struct matcher;
void matcher_free(matcher* m);
struct matcher_deleter {
    void operator()(matcher* m) const { matcher_free(m); }
};
using matcher_ptr = std::unique_ptr<matcher, matcher_deleter>;

// Compiles pattern; null, with the reason in *error, when it is no valid
// expression or one the engine refuses (a back-reference, a repetition of
// a repetition such as "a**" or "a{2}*", undefined in POSIX and a way to
// make patterns huge, too large a pattern).
matcher_ptr matcher_compile(const char* pattern, std::string* error);

// Looks for the leftmost match in text[from, length) and the longest match
// that starts there, as POSIX has it; sets *end to the index just past it.
// The text may hold any bytes; text[length] is not read.
//
// at_line_start: text[from] begins a line, so ^ may match there;
// at_line_end: text[length] ends one, so $ may match there. \b \B \< \>
// look at the bytes on both sides: text[from - 1] before text[from] when
// from > 0 and text[from] begins no line; where that byte is unknown (the
// text begins neither a line nor at from > 0, or ends but not its line)
// they do not match, as $ does not before the line's end.
//
// Every few thousand steps the search asks whether the run must end
// (Ctrl-Q typed, the --timeout passed) and then gives up: no match.
// A search works in room the matcher holds: one search of a matcher at a
// time.
bool matcher_find(const matcher& m, const char* text, size_t from, size_t length, bool at_line_start,
                  bool at_line_end, size_t* end);

// The compiled size in atoms (at most MATCHER_SIZE_MAX + 1, its end), and
// the steps the last matcher_find took (each at most 3 per atom and byte
// searched, one byte more than the text): for tests that check the time is
// linear in the text.
size_t matcher_size(const matcher& m);
size_t matcher_last_steps();

}  // namespace tolvane
