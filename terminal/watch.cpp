#include "terminal/watch.h"

#include <cctype>
#include <cstring>

namespace tolvane {

namespace {

using pattern = watch_state::pattern;
using step = watch_state::step;

// A literal, as the pattern spells it after a backslash: punctuation but
// \< and \> (terminal/matcher.h).
bool escapes_a_literal(char c) {
    return c > ' ' && c < 0x7f && !std::isalnum(static_cast<unsigned char>(c)) && c != '<' && c != '>';
}

// Index just past the bracket expression that starts at p[i] == '['.
size_t skip_bracket(const char* p, size_t i) {
    size_t j = i + 1;
    if (p[j] == '^') ++j;
    if (p[j] == ']') ++j;
    while (p[j] && p[j] != ']') {
        if (p[j] == '[' && (p[j + 1] == ':' || p[j + 1] == '.' || p[j + 1] == '=')) {
            const char close[3] = {p[j + 1], ']', '\0'};
            const char* end = std::strstr(p + j + 2, close);
            if (end == nullptr) return std::strlen(p);
            j = static_cast<size_t>(end - p) + 2;
        } else {
            ++j;
        }
    }
    return p[j] ? j + 1 : j;
}

// Index just past the group that starts at p[i] == '('.
size_t skip_group(const char* p, size_t i) {
    int depth = 0;
    size_t j = i;
    while (p[j]) {
        if (p[j] == '\\') {
            j += p[j + 1] ? 2 : 1;
        } else if (p[j] == '[') {
            j = skip_bracket(p, j);
        } else {
            if (p[j] == '(') ++depth;
            if (p[j] == ')' && --depth == 0) return j + 1;
            ++j;
        }
    }
    return j;
}

// True when text[from, length) holds one of the literals (or there are none).
bool may_match(const watch_state& w, const pattern& p, size_t from, size_t length) {
    if (p.literals.empty()) return true;
    for (const std::string& literal : p.literals) {
        const char* at = w.line + from;
        const char* const end = w.line + length;
        while (static_cast<size_t>(end - at) >= literal.size()) {
            at = static_cast<const char*>(std::memchr(at, literal[0], static_cast<size_t>(end - at)));
            if (at == nullptr || static_cast<size_t>(end - at) < literal.size()) break;
            if (std::memcmp(at, literal.data(), literal.size()) == 0) return true;
            ++at;
        }
    }
    return false;
}

bool find(const watch_state& w, const pattern& p, size_t from, size_t length, bool at_line_end, size_t* end) {
    return may_match(w, p, from, length) &&
           matcher_find(*p.engine, w.line, from, length, from == 0 && !w.line_is_a_part, at_line_end, end);
}

bool compile(const char* text, pattern* p, std::string* error) {
    p->engine = matcher_compile(text, error);
    if (!p->engine) return false;
    p->literals = required_literals(text);
    return true;
}

// The outcome stays; nothing more is matched.
void decide(watch_state& w, watch_result result) {
    w.outcome = result;
    w.now = watch_state::decided;
}

// The steps from next_step on, as far as they are done: texts become due,
// --expect patterns are looked for behind the last match.
void run_steps(watch_state& w, size_t length, bool at_line_end) {
    while (w.next_step < w.steps.size()) {
        const step& s = w.steps[w.next_step];
        if (s.is_transfer()) {
            w.now = watch_state::handing_over;
            return;
        }
        if (s.is_send) {
            w.due_sends += s.text;
        } else {
            size_t end;
            if (!find(w, s.expect, w.searched_from, length, at_line_end, &end)) return;
            w.searched_from = end;
        }
        ++w.next_step;
    }
    if (w.any_expect || w.any_transfer) decide(w, watch_result::passed);
}

// Matches line[0, length): a --fail anywhere in it first, then the steps.
void match(watch_state& w, size_t length, bool at_line_end) {
    w.line[length] = '\0';
    for (const pattern& p : w.fail_patterns) {
        size_t end;
        if (find(w, p, 0, length, at_line_end, &end)) {
            w.failed_line.assign(w.line, length);
            decide(w, watch_result::failed);
            return;
        }
    }
    run_steps(w, length, at_line_end);
}

void start_line(watch_state& w, bool is_a_part) {
    w.line_length = 0;
    w.searched_from = 0;
    w.quiet_checked = 0;
    w.line_is_a_part = is_a_part;
}

}  // namespace

std::vector<std::string> required_literals(const char* p) {
    std::vector<std::string> found;
    std::string best, run;
    bool last_in_run = false;  // the last atom is the last byte of run
    bool every_branch_has_one = true;
    const auto end_run = [&] {
        if (run.size() > best.size()) best = run;
        run.clear();
        last_in_run = false;
    };
    const auto end_branch = [&] {
        end_run();
        if (best.empty()) every_branch_has_one = false;
        found.push_back(best);
        best.clear();
    };
    for (size_t i = 0; p[i];) {
        const char c = p[i];
        if (c == '\\' && escapes_a_literal(p[i + 1])) {
            run += p[i + 1];
            last_in_run = true;
            i += 2;
        } else if (c == '*' || c == '?' || c == '{') {
            // The atom before may be absent or repeated: it ends the run.
            if (last_in_run) run.pop_back();
            end_run();
            if (c == '{') {
                const char* close = std::strchr(p + i, '}');
                i = close ? static_cast<size_t>(close - p) + 1 : std::strlen(p);
            } else {
                ++i;
            }
        } else if (c == '+') {
            end_run();  // at least once, but what follows need not be next to it
            ++i;
        } else if (c == '|') {
            end_branch();
            ++i;
        } else if (c == '[' || c == '(') {
            end_run();
            i = c == '[' ? skip_bracket(p, i) : skip_group(p, i);
        } else if (c == '\\' || c == '.' || c == '^' || c == '$' || c == ')') {
            end_run();
            i += c == '\\' && p[i + 1] ? 2 : 1;
        } else {
            run += c;
            last_in_run = true;
            ++i;
        }
    }
    end_branch();
    if (!every_branch_has_one) found.clear();
    return found;
}

bool unescape_text(const char* text, std::string* bytes) {
    bytes->clear();
    for (const char* p = text; *p; ++p) {
        if (*p != '\\') {
            *bytes += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 'r': *bytes += '\r'; break;
        case 'n': *bytes += '\n'; break;
        case 't': *bytes += '\t'; break;
        case '\\': *bytes += '\\'; break;
        case 'x': {
            int value = 0, digits = 0;
            for (; digits < 2 && std::strchr("0123456789abcdefABCDEF", p[1]) && p[1]; ++digits, ++p) {
                const char h = p[1];
                value = value * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
            }
            if (digits == 0) return false;
            *bytes += static_cast<char>(value);
            break;
        }
        default: return false;
        }
    }
    return true;
}

void watch_clear(watch_state& w) {
    w.fail_patterns.clear();
    w.steps.clear();
    w.next_step = 0;
    w.any_expect = false;
    w.any_transfer = false;
    w.now = watch_state::off;
    w.outcome = watch_result::running;
    w.failed_line.clear();
    w.due_sends.clear();
    w.due_sent = 0;
    start_line(w, false);
}

bool watch_add_expect(watch_state& w, const char* text, std::string* error) {
    step s{false, {}, text};  // the pattern's text, for the time-out's message
    if (!compile(text, &s.expect, error)) return false;
    w.steps.push_back(std::move(s));
    w.any_expect = true;
    return true;
}

bool watch_add_fail(watch_state& w, const char* text, std::string* error) {
    pattern p;
    if (!compile(text, &p, error)) return false;
    w.fail_patterns.push_back(std::move(p));
    return true;
}

bool watch_add_send(watch_state& w, const char* text) {
    step s{true, {}, {}};
    if (!unescape_text(text, &s.text)) return false;
    w.steps.push_back(std::move(s));
    return true;
}

void watch_add_transfer(watch_state& w, const watch_step& transfer) {
    step s{false, {}, {}};
    s.transfer = transfer;
    w.steps.push_back(std::move(s));
    w.any_transfer = true;
}

bool watch_has_patterns(const watch_state& w) { return w.any_expect || !w.fail_patterns.empty(); }

bool watch_step_valid(const watch_step& step, std::string* why) {
    if (step.what == watch_step::kind::ymodem || step.what == watch_step::kind::xmodem) return !step.text.empty();
    if (step.what == watch_step::kind::send) {
        std::string bytes;
        return unescape_text(step.text.c_str(), &bytes);
    }
    pattern p;
    return compile(step.text.c_str(), &p, why);
}

void watch_start(watch_state& w, const std::vector<watch_step>& steps) {
    watch_clear(w);
    std::string why;
    for (const watch_step& s : steps) {
        if (s.what == watch_step::kind::expect) watch_add_expect(w, s.text.c_str(), &why);
        if (s.what == watch_step::kind::fail) watch_add_fail(w, s.text.c_str(), &why);
        if (s.what == watch_step::kind::send) watch_add_send(w, s.text.c_str());
        if (s.what == watch_step::kind::ymodem || s.what == watch_step::kind::xmodem) watch_add_transfer(w, s);
    }
    watch_begin(w);
}

// The texts up to the next --expect or transfer are due; a transfer's
// turn has come when it is next.
void take_steps_before_text(watch_state& w) {
    while (w.next_step < w.steps.size() && w.steps[w.next_step].is_send) w.due_sends += w.steps[w.next_step++].text;
    const bool watching = watch_has_patterns(w) || w.any_transfer;
    w.now = !watching ? watch_state::off
            : w.next_step < w.steps.size() && w.steps[w.next_step].is_transfer() ? watch_state::handing_over
                                                                                 : watch_state::matching;
}

void watch_begin(watch_state& w) { take_steps_before_text(w); }

bool watch_take_transfer(watch_state& w, watch_step* step) {
    if (w.now != watch_state::handing_over || w.next_step >= w.steps.size()) return false;
    *step = w.steps[w.next_step].transfer;
    w.now = watch_state::transferring;
    return true;
}

void watch_transfer_ended(watch_state& w, bool ok, const std::string& why) {
    if (w.now != watch_state::transferring) return;
    if (!ok) {
        w.failed_line = why;
        return decide(w, watch_result::failed);
    }
    ++w.next_step;
    start_line(w, false);  // the board's text after the transfer is a new line
    take_steps_before_text(w);
    if (w.next_step == w.steps.size()) decide(w, watch_result::passed);
}

void watch_state::put_slowly(int byte) {
    if (byte == '\n') {
        size_t length = line_length;
        if (length > 0 && line[length - 1] == '\r') --length;
        match(*this, length, true);
        start_line(*this, false);
    } else if (byte != 0) {
        line[line_length++] = static_cast<char>(byte);
        if (line_length == WATCH_LINE_MAX) {
            match(*this, line_length, false);
            start_line(*this, true);
        }
    }
}

void watch_line_quiet(watch_state& w) {
    if (w.now != watch_state::matching || w.line_length == w.quiet_checked) return;
    w.quiet_checked = w.line_length;
    match(w, w.line_length, false);
}

watch_result watch_outcome(const watch_state& w) { return w.outcome; }

std::string watch_awaited(const watch_state& w) {
    for (size_t i = w.next_step; i < w.steps.size(); ++i) {
        if (w.steps[i].is_transfer())
            return (w.steps[i].transfer.what == watch_step::kind::ymodem ? "--ymodem " : "--xmodem ") +
                   w.steps[i].transfer.text;
        if (!w.steps[i].is_send) return w.steps[i].text;
    }
    return "";
}

const std::string& watch_failed_line(const watch_state& w) { return w.failed_line; }

size_t watch_sends_due(const watch_state& w) { return w.due_sends.size() - w.due_sent; }

int watch_take_send(watch_state& w) {
    if (w.due_sent == w.due_sends.size()) {
        w.due_sends.clear();
        w.due_sent = 0;
        return -1;
    }
    return static_cast<unsigned char>(w.due_sends[w.due_sent++]);
}

}  // namespace tolvane
