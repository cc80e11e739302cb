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
#include "terminal/matcher.h"

namespace tolvane {

// A longer line is matched in parts of this many bytes, each part as an
// unfinished line (so ^ matches only at the start of the first).
constexpr size_t WATCH_LINE_MAX = 4096;

enum class watch_result { running, passed, failed };

// The run's patterns and steps, and where the text stands against them.
// One per session; only watch.cpp and watch_put touch its fields.
struct watch_state {
    // handing_over and decided stop the text; transferring holds the watch
    // while a transfer step has the line.
    enum mode { off, matching, transferring, handing_over, decided };
    struct pattern {
        matcher_ptr engine;
        std::vector<std::string> literals;  // empty: every text goes to the engine
    };
    struct step {
        bool is_send;
        pattern expect;    // unless is_send or a transfer
        std::string text;  // if is_send
        watch_step transfer = {watch_step::kind::send, ""};  // a transfer: its kind and path
        bool is_transfer() const { return transfer.what != watch_step::kind::send; }
    };

    mode now = off;
    size_t line_length = 0;
    // The line being received. An --expect that matched in it leaves the
    // next one to look behind its match (searched_from).
    char line[WATCH_LINE_MAX + 1] = {};
    size_t searched_from = 0;
    size_t quiet_checked = 0;     // the length the unfinished line had at its last match
    bool line_is_a_part = false;  // the buffer holds a later part of a long line

    std::vector<pattern> fail_patterns;
    std::vector<step> steps;
    size_t next_step = 0;
    bool any_expect = false;
    bool any_transfer = false;
    watch_result outcome = watch_result::running;
    std::string failed_line;
    std::string due_sends;
    size_t due_sent = 0;

    // Bytes up to LF (NUL and LF among them), and the byte that fills a part.
    void put_slowly(int byte);
};

// Forgets every pattern and step.
void watch_clear(watch_state& w);
// Each adds a step or pattern in command-line order. A pattern that does
// not compile gives false and the engine's reason; a text with an unknown
// escape gives false.
bool watch_add_expect(watch_state& w, const char* pattern, std::string* error);
bool watch_add_fail(watch_state& w, const char* pattern, std::string* error);
bool watch_add_send(watch_state& w, const char* text);
// A file sent by --ymodem or --xmodem in its turn.
void watch_add_transfer(watch_state& w, const watch_step& step);
// True when the run has patterns to match.
bool watch_has_patterns(const watch_state& w);

// Whether a step would be taken: a pattern that compiles, a text without
// an unknown escape. False with the reason (the engine's, for a pattern).
bool watch_step_valid(const watch_step& step, std::string* why);
// The steps of the settings, in order (each valid), then watch_begin.
void watch_start(watch_state& w, const std::vector<watch_step>& steps);

// The run starts: the texts before the first --expect are due at once.
void watch_begin(watch_state& w);

// A byte of target text, as the target sent it (form feeds and file
// requests never come here). A line ends at LF; a CR before it is no part
// of the line, and NUL bytes are left out. Inline below: it runs for every
// byte.
inline void watch_put(watch_state& w, int byte);
// True once the text decided the run (watch_outcome is not running), or a
// transfer step's turn came and the text stops for it.
inline bool watch_decided(const watch_state& w);
// Everything received so far was handed over: the unfinished line is
// matched as it stands ($ does not match at its end yet).
void watch_line_quiet(watch_state& w);

// passed once every --expect matched in order (never with none given);
// failed once a line matched a --fail pattern. It then stays so.
watch_result watch_outcome(const watch_state& w);
// The line that matched a --fail pattern, without its line end.
const std::string& watch_failed_line(const watch_state& w);
// The --expect pattern the run waits for now; empty when none.
std::string watch_awaited(const watch_state& w);

// A transfer step's turn came: the text stops before the next byte, which
// is the transfer's (term_text_decided). The first call hands the step out
// (true) and the text waits until watch_transfer_ended.
bool watch_take_transfer(watch_state& w, watch_step* step);
// The transfer of the step ended: the steps go on, or, when it failed,
// the run has failed with why.
void watch_transfer_ended(watch_state& w, bool ok, const std::string& why);

// Bytes of --send texts that are due, and the next of them (-1: none).
size_t watch_sends_due(const watch_state& w);
int watch_take_send(watch_state& w);

// The bytes of a --send text: \r, \n, \t, \\ and \xN or \xNN (hex) are
// escapes. False on any other backslash.
bool unescape_text(const char* text, std::string* bytes);

// Literals of which every match of pattern holds at least one; empty when
// no such set was found. Only text that holds one goes to the engine.
std::vector<std::string> required_literals(const char* pattern);

inline void watch_put(watch_state& w, int byte) {
    if (w.now != watch_state::matching) return;
    if (byte <= '\n' || w.line_length == WATCH_LINE_MAX - 1)
        w.put_slowly(byte);
    else
        w.line[w.line_length++] = static_cast<char>(byte);
}

inline bool watch_decided(const watch_state& w) { return w.now >= watch_state::handing_over; }
// A transfer step's turn came and it has not been taken yet.
inline bool watch_transfer_due(const watch_state& w) { return w.now == watch_state::handing_over; }

}  // namespace tolvane
