// The engine behind terminal/matcher.h.
//
// Compiling: the pattern is read once, left to right, without recursion
// (an explicit stack of open groups), into a program of instructions whose
// jumps are relative, so that a piece of program can be copied as it is
// for a counted repetition.
//
// Searching: all threads of the program run in step over the text, one
// byte at a time (Thompson's simulation). A thread remembers where its
// match started; a new one starts at every byte until a match is found. The
// threads are kept in the order they started, and where two reach the same
// instruction at the same byte only the first (the earlier start) goes on,
// since both would do the same from there: so there are never more threads
// than instructions, and the earliest start wins. The match that starts
// there and ends last is the POSIX match.
#include "terminal/matcher.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "base/keys.h"
#include "base/time_limit.h"

namespace tolvane {

namespace {

enum opcode : uint8_t {
    OP_BYTE,    // consumes byte `arg`
    OP_ANY,     // consumes any byte
    OP_SET,     // consumes a byte of sets[x]
    OP_SPLIT,   // goes on at +x and at +y
    OP_JUMP,    // goes on at +x
    OP_ASSERT,  // goes on at +1 where assertion `arg` holds
    OP_MATCH,
};

enum assertion : uint8_t { LINE_START, LINE_END, WORD_EDGE, NOT_WORD_EDGE, WORD_START, WORD_END };

struct instruction {
    opcode op;
    uint8_t arg;
    int32_t x, y;
};

using program = std::vector<instruction>;

struct byte_set {
    std::array<uint32_t, 8> bits{};
    void add(unsigned c) { bits[c >> 5] |= uint32_t{1} << (c & 31); }
    void add_range(unsigned low, unsigned high) {
        for (unsigned c = low; c <= high; ++c) add(c);
    }
    bool has(unsigned c) const { return (bits[c >> 5] >> (c & 31)) & 1; }
    void invert() {
        for (uint32_t& word : bits) word = ~word;
    }
    void add_all(const byte_set& other) {
        for (size_t i = 0; i < bits.size(); ++i) bits[i] |= other.bits[i];
    }
};

// The ASCII classes, as in the C locale.
bool is_word_byte(unsigned c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_'; }

bool class_has(const char* name, unsigned c) {
    const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z', digit = c >= '0' && c <= '9';
    const bool print = c >= 0x20 && c < 0x7f;
    if (!std::strcmp(name, "alpha")) return upper || lower;
    if (!std::strcmp(name, "digit")) return digit;
    if (!std::strcmp(name, "alnum")) return upper || lower || digit;
    if (!std::strcmp(name, "upper")) return upper;
    if (!std::strcmp(name, "lower")) return lower;
    if (!std::strcmp(name, "space")) return c == ' ' || (c >= '\t' && c <= '\r');
    if (!std::strcmp(name, "blank")) return c == ' ' || c == '\t';
    if (!std::strcmp(name, "punct")) return print && c != ' ' && !upper && !lower && !digit;
    if (!std::strcmp(name, "print")) return print;
    if (!std::strcmp(name, "graph")) return print && c != ' ';
    if (!std::strcmp(name, "cntrl")) return c < 0x20 || c == 0x7f;
    if (!std::strcmp(name, "xdigit")) return digit || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
    return false;
}

bool is_class_name(const std::string& name) {
    static const char* const names[] = {"alpha", "digit", "alnum", "upper", "lower", "space",
                                        "blank", "punct", "print", "graph", "cntrl", "xdigit"};
    for (const char* n : names) {
        if (name == n) return true;
    }
    return false;
}

byte_set class_set(const char* name) {
    byte_set s;
    for (unsigned c = 0; c < 256; ++c) {
        if (class_has(name, c)) s.add(c);
    }
    return s;
}

// The set a GNU escape stands for (\w \W \s \S \d \D), false for others.
bool escape_set(char e, byte_set* s) {
    const char lower = static_cast<char>(e | 0x20);
    if (lower == 'w') {
        *s = class_set("alnum");
        s->add('_');
    } else if (lower == 's') {
        *s = class_set("space");
    } else if (lower == 'd') {
        *s = class_set("digit");
    } else {
        return false;
    }
    if (e != lower) s->invert();
    return true;
}

}  // namespace

struct matcher {
    program code;  // ends with OP_MATCH
    std::vector<byte_set> sets;
    // The bytes a match can begin with, when a match cannot be empty and
    // does not begin with an assertion: where no thread runs, the search
    // skips ahead to the next such byte.
    bool can_skip = false;
    byte_set first_bytes;

    // Room for a search, made once: the threads at this byte and the next,
    // the instructions visited at a byte (by the generation of that byte),
    // the work list of the closure.
    struct thread {
        int32_t pc;
        size_t start;
    };
    mutable std::vector<thread> now, next;
    mutable std::vector<uint32_t> visited;
    mutable uint32_t generation = 0;
    mutable std::vector<int32_t> pending;
};

namespace {

size_t last_steps = 0;

// The compiler's state: the groups open, each with its branches done, the
// branch going on and its last piece (which a repetition applies to).
class compiler {
public:
    compiler(const char* pattern, matcher* m) : p_(pattern), m_(m) {}

    bool run(std::string* error);

private:
    struct group {
        std::vector<program> branches;
        program branch;
        program last;
        bool has_last = false;
        bool last_repeatable = false;
        bool last_repeated = false;
    };

    bool fail(const std::string& why) {
        error_ = why;
        return false;
    }
    // `more` instructions are about to be held.
    bool grow(size_t more) {
        held_ += more;
        if (held_ > MATCHER_SIZE_MAX)
            return fail("larger than " + std::to_string(MATCHER_SIZE_MAX) +
                        " atoms once its repetitions are spelled out");
        return true;
    }
    bool atom(program piece, bool repeatable);
    bool repeat(unsigned low, unsigned high);  // high == INFINITE: no upper bound
    bool braces();
    bool bracket();
    bool escape();
    program close_group(group& g);  // its alternation as one program
    bool bracket_char(unsigned* c);
    // An instruction that takes a byte of s; each set is kept once.
    instruction take_set(const byte_set& s);

    static constexpr unsigned INFINITE = ~0u;

    const char* p_;
    size_t i_ = 0;
    matcher* m_;
    std::vector<group> open_;
    size_t held_ = 0;  // instructions held in open_
    std::map<std::array<uint32_t, 8>, int32_t> set_numbers_;
    std::string error_;
};

instruction compiler::take_set(const byte_set& s) {
    const auto known = set_numbers_.emplace(s.bits, static_cast<int32_t>(m_->sets.size()));
    if (known.second) m_->sets.push_back(s);
    return {OP_SET, 0, known.first->second, 0};
}

bool compiler::atom(program piece, bool repeatable) {
    group& g = open_.back();
    if (!grow(piece.size())) return false;
    g.branch.insert(g.branch.end(), g.last.begin(), g.last.end());
    g.last = std::move(piece);
    g.has_last = true;
    g.last_repeatable = repeatable;
    g.last_repeated = false;
    return true;
}

bool compiler::repeat(unsigned low, unsigned high) {
    group& g = open_.back();
    if (!g.has_last || !g.last_repeatable) return fail("a repetition with nothing before it");
    if (g.last_repeated) return fail("a repetition of a repetition");
    g.last_repeated = true;
    const program piece = std::move(g.last);
    g.last.clear();
    const size_t s = piece.size();
    held_ -= s;
    if (s == 0 || high == 0) return true;  // nothing, or none of it
    // n copies, then: no end: F* (n = 0) or one more F as F+; an end m:
    // m - n copies of F each behind a split that skips to the end.
    size_t size = low * s;
    if (high == INFINITE) size += low == 0 ? s + 2 : 1;
    else size += (high - low) * (s + 1);
    if (!grow(size)) return false;
    program& out = g.last;
    out.reserve(size);
    const auto copy = [&] { out.insert(out.end(), piece.begin(), piece.end()); };
    const int32_t si = static_cast<int32_t>(s);
    if (high == INFINITE) {
        if (low == 0) {
            out.push_back({OP_SPLIT, 0, 1, si + 2});
            copy();
            out.push_back({OP_JUMP, 0, -(si + 1), 0});
        } else {
            for (unsigned k = 0; k < low; ++k) copy();
            out.push_back({OP_SPLIT, 0, -si, 1});
        }
        return true;
    }
    for (unsigned k = 0; k < low; ++k) copy();
    const int32_t optional = static_cast<int32_t>((high - low) * (s + 1));
    for (unsigned k = 0; k < high - low; ++k) {
        out.push_back({OP_SPLIT, 0, 1, optional - static_cast<int32_t>(k * (s + 1))});
        copy();
    }
    return true;
}

// At p_[i_] == '{': {n}, {n,}, {,m}, {n,m}.
bool compiler::braces() {
    const char* const close = std::strchr(p_ + i_, '}');
    if (close == nullptr) return fail("unmatched {");
    const char* at = p_ + i_ + 1;
    const auto number = [&](unsigned* value) {
        if (*at < '0' || *at > '9') return false;
        unsigned v = 0;
        for (; *at >= '0' && *at <= '9'; ++at) v = v < 100000 ? v * 10 + static_cast<unsigned>(*at - '0') : v;
        *value = v;
        return true;
    };
    unsigned low = 0, high = 0;
    const bool has_low = number(&low);
    if (*at == ',') {
        ++at;
        if (!number(&high)) high = INFINITE;
    } else {
        if (!has_low) return fail("bad braces: want {n}, {n,} or {n,m}");
        high = low;
    }
    if (at != close) return fail("bad braces: want {n}, {n,} or {n,m}");
    if (low > static_cast<unsigned>(MATCHER_COUNT_MAX) ||
        (high != INFINITE && high > static_cast<unsigned>(MATCHER_COUNT_MAX)))
        return fail("a repetition count above " + std::to_string(MATCHER_COUNT_MAX));
    if (high < low) return fail("bad braces: {n,m} with m below n");
    i_ = static_cast<size_t>(close - p_) + 1;
    return repeat(low, high);
}

// One byte of a bracket expression at p_[i_]: a byte, or [.c.] or [=c=];
// i_ moves past it. False (with the reason) for a name that is no byte.
bool compiler::bracket_char(unsigned* c) {
    if (p_[i_] == '[' && (p_[i_ + 1] == '.' || p_[i_ + 1] == '=')) {
        const char kind = p_[i_ + 1];
        const char close[3] = {kind, ']', '\0'};
        const char* end = std::strstr(p_ + i_ + 2, close);
        if (end == nullptr) return fail("unmatched [");
        const size_t length = static_cast<size_t>(end - (p_ + i_ + 2));
        if (length != 1) return fail("unknown collating element " + std::string(p_ + i_, length + 4));
        *c = static_cast<unsigned char>(p_[i_ + 2]);
        i_ += 5;
        return true;
    }
    *c = static_cast<unsigned char>(p_[i_++]);
    return true;
}

// At p_[i_] == '['.
bool compiler::bracket() {
    byte_set set;
    ++i_;
    const bool negated = p_[i_] == '^';
    if (negated) ++i_;
    bool first = true;
    for (;;) {
        if (p_[i_] == '\0') return fail("unmatched [");
        if (p_[i_] == ']' && !first) break;
        first = false;
        if (p_[i_] == '[' && p_[i_ + 1] == ':') {
            const char* end = std::strstr(p_ + i_ + 2, ":]");
            if (end == nullptr) return fail("unmatched [");
            const std::string name(p_ + i_ + 2, static_cast<size_t>(end - (p_ + i_ + 2)));
            if (!is_class_name(name)) return fail("unknown character class [:" + name + ":]");
            set.add_all(class_set(name.c_str()));
            i_ = static_cast<size_t>(end - p_) + 2;
            if (p_[i_] == '-' && p_[i_ + 1] != ']' && p_[i_ + 1] != '\0') return fail("invalid range end");
            continue;
        }
        const bool equivalence = p_[i_] == '[' && p_[i_ + 1] == '=';
        unsigned low;
        if (!bracket_char(&low)) return false;
        if (p_[i_] == '-' && p_[i_ + 1] != ']' && p_[i_ + 1] != '\0') {
            ++i_;
            if (equivalence || (p_[i_] == '[' && (p_[i_ + 1] == ':' || p_[i_ + 1] == '=')))
                return fail("invalid range end");
            unsigned high;
            if (!bracket_char(&high)) return false;
            if (high < low) return fail("invalid range end");
            set.add_range(low, high);
            // "a-c-e": a range cannot begin where one ended.
            if (p_[i_] == '-' && p_[i_ + 1] != ']' && p_[i_ + 1] != '\0') return fail("invalid range end");
        } else {
            set.add(low);
        }
    }
    ++i_;  // the closing ]
    if (negated) set.invert();
    return atom({take_set(set)}, true);
}

// At p_[i_] == '\\'.
bool compiler::escape() {
    const unsigned char e = static_cast<unsigned char>(p_[i_ + 1]);
    if (e == '\0') return fail("a trailing backslash");
    i_ += 2;
    byte_set set;
    if (escape_set(static_cast<char>(e), &set)) return atom({take_set(set)}, true);
    const auto assert_that = [&](assertion a) { return atom({{OP_ASSERT, static_cast<uint8_t>(a), 0, 0}}, false); };
    switch (e) {
    case 'b': return assert_that(WORD_EDGE);
    case 'B': return assert_that(NOT_WORD_EDGE);
    case '<': return assert_that(WORD_START);
    case '>': return assert_that(WORD_END);
    default: break;
    }
    if (e >= '1' && e <= '9') return fail("back-references are not supported");
    if (class_has("alnum", e)) return fail(std::string("unknown escape \\") + static_cast<char>(e));
    return atom({{OP_BYTE, e, 0, 0}}, true);
}

program compiler::close_group(group& g) {
    g.branch.insert(g.branch.end(), g.last.begin(), g.last.end());
    g.last.clear();
    if (g.branches.empty()) return std::move(g.branch);
    g.branches.push_back(std::move(g.branch));
    size_t total = 0;
    for (const program& b : g.branches) total += b.size() + 2;
    total -= 2;
    program out;
    out.reserve(total);
    for (size_t k = 0; k < g.branches.size(); ++k) {
        const program& b = g.branches[k];
        const bool last = k + 1 == g.branches.size();
        if (!last) out.push_back({OP_SPLIT, 0, 1, static_cast<int32_t>(b.size() + 2)});
        out.insert(out.end(), b.begin(), b.end());
        if (!last) out.push_back({OP_JUMP, 0, static_cast<int32_t>(total - out.size()), 0});
    }
    return out;
}

bool compiler::run(std::string* error) {
    open_.emplace_back();
    bool ok = true;
    while (ok && p_[i_]) {
        const char c = p_[i_];
        if (c == '(') {
            if (open_.size() > static_cast<size_t>(MATCHER_DEPTH_MAX)) {
                ok = fail("groups nested deeper than " + std::to_string(MATCHER_DEPTH_MAX));
                break;
            }
            open_.emplace_back();
            ++i_;
        } else if (c == ')') {
            if (open_.size() == 1) {
                ok = fail("unmatched )");
                break;
            }
            // Its instructions, the splits and jumps of | among them, are
            // held already; atom() counts them again.
            program g = close_group(open_.back());
            open_.pop_back();
            held_ -= g.size();
            ++i_;
            ok = atom(std::move(g), true);
        } else if (c == '|') {
            group& g = open_.back();
            g.branch.insert(g.branch.end(), g.last.begin(), g.last.end());
            g.last.clear();
            g.has_last = false;
            g.branches.push_back(std::move(g.branch));
            g.branch.clear();
            ok = grow(2);  // a split and a jump
            ++i_;
        } else if (c == '*' || c == '+' || c == '?') {
            ++i_;
            ok = repeat(c == '+' ? 1 : 0, c == '?' ? 1 : INFINITE);
        } else if (c == '{') {
            group& g = open_.back();
            if (!g.has_last || !g.last_repeatable) ok = fail("a repetition with nothing before it");
            else if (g.last_repeated) ok = fail("a repetition of a repetition");
            else ok = braces();
        } else if (c == '[') {
            ok = bracket();
        } else if (c == '\\') {
            ok = escape();
        } else if (c == '.') {
            ++i_;
            ok = atom({{OP_ANY, 0, 0, 0}}, true);
        } else if (c == '^' || c == '$') {
            ++i_;
            ok = atom({{OP_ASSERT, static_cast<uint8_t>(c == '^' ? LINE_START : LINE_END), 0, 0}}, false);
        } else {
            ++i_;
            ok = atom({{OP_BYTE, static_cast<uint8_t>(c), 0, 0}}, true);
        }
    }
    if (ok && open_.size() > 1) ok = fail("unmatched (");
    if (!ok) {
        *error = error_;
        return false;
    }
    m_->code = close_group(open_.back());
    m_->code.push_back({OP_MATCH, 0, 0, 0});
    return true;
}

// Where no match can be empty or begin with an assertion: the bytes a
// match can begin with.
void find_first_bytes(matcher* m) {
    std::vector<bool> seen(m->code.size());
    std::vector<int32_t> pending{0};
    m->can_skip = true;
    while (!pending.empty() && m->can_skip) {
        const int32_t pc = pending.back();
        pending.pop_back();
        if (seen[static_cast<size_t>(pc)]) continue;
        seen[static_cast<size_t>(pc)] = true;
        const instruction& in = m->code[static_cast<size_t>(pc)];
        switch (in.op) {
        case OP_BYTE: m->first_bytes.add(in.arg); break;
        case OP_ANY: m->first_bytes.bits.fill(~0u); break;
        case OP_SET: m->first_bytes.add_all(m->sets[static_cast<size_t>(in.x)]); break;
        case OP_SPLIT:
            pending.push_back(pc + in.y);
            pending.push_back(pc + in.x);
            break;
        case OP_JUMP: pending.push_back(pc + in.x); break;
        case OP_ASSERT:
        case OP_MATCH: m->can_skip = false; break;
        }
    }
}

}  // namespace

void matcher_free(matcher* m) { delete m; }

matcher_ptr matcher_compile(const char* pattern, std::string* error) {
    matcher_ptr m(new matcher);
    compiler c(pattern, m.get());
    if (!c.run(error)) return nullptr;
    const size_t n = m->code.size();
    m->now.reserve(n);
    m->next.reserve(n);
    m->visited.assign(n, 0);
    m->pending.reserve(2 * n + 1);
    find_first_bytes(m.get());
    return m;
}

namespace {

// The search of one matcher_find.
class search {
public:
    search(const matcher& m, const char* text, size_t from, size_t length, bool at_line_start, bool at_line_end)
        : m_(m), text_(text), from_(from), length_(length), at_line_start_(at_line_start), at_line_end_(at_line_end) {}

    bool run(size_t* end);

private:
    using thread = matcher::thread;
    enum side { NOT_WORD, WORD, UNKNOWN };

    side before(size_t at) const {
        if (at == from_ && at_line_start_) return NOT_WORD;
        if (at == 0) return UNKNOWN;
        return is_word_byte(static_cast<unsigned char>(text_[at - 1])) ? WORD : NOT_WORD;
    }
    side after(size_t at) const {
        if (at < length_) return is_word_byte(static_cast<unsigned char>(text_[at])) ? WORD : NOT_WORD;
        return at_line_end_ ? NOT_WORD : UNKNOWN;
    }
    bool holds(uint8_t a, size_t at) const {
        if (a == LINE_START) return at == from_ && at_line_start_;
        if (a == LINE_END) return at == length_ && at_line_end_;
        const side b = before(at), f = after(at);
        if (b == UNKNOWN || f == UNKNOWN) return false;
        switch (a) {
        case WORD_EDGE: return b != f;
        case NOT_WORD_EDGE: return b == f;
        case WORD_START: return b == NOT_WORD && f == WORD;
        case WORD_END: return b == WORD && f == NOT_WORD;
        default: return false;
        }
    }
    void new_generation() {
        if (++m_.generation == 0) {
            std::fill(m_.visited.begin(), m_.visited.end(), 0);
            m_.generation = 1;
        }
    }
    // The thread at pc, started at `start`, at text position `at`, and all
    // it leads to without consuming a byte, onto `list`.
    void add(std::vector<thread>& list, int32_t pc, size_t start, size_t at);

    const matcher& m_;
    const char* text_;
    size_t from_, length_;
    bool at_line_start_, at_line_end_;
    bool found_ = false;
    size_t best_start_ = 0;
    size_t best_end_ = 0;
    size_t steps_ = 0;
};

void search::add(std::vector<thread>& list, int32_t pc, size_t start, size_t at) {
    std::vector<int32_t>& pending = m_.pending;
    pending.clear();
    pending.push_back(pc);
    while (!pending.empty()) {
        const int32_t here = pending.back();
        pending.pop_back();
        uint32_t& visited = m_.visited[static_cast<size_t>(here)];
        if (visited == m_.generation) continue;
        visited = m_.generation;
        ++steps_;
        const instruction& in = m_.code[static_cast<size_t>(here)];
        switch (in.op) {
        case OP_BYTE:
        case OP_ANY:
        case OP_SET: list.push_back({here, start}); break;
        case OP_SPLIT:
            pending.push_back(here + in.y);
            pending.push_back(here + in.x);
            break;
        case OP_JUMP: pending.push_back(here + in.x); break;
        case OP_ASSERT:
            if (holds(in.arg, at)) pending.push_back(here + 1);
            break;
        case OP_MATCH:
            if (!found_ || start < best_start_ || (start == best_start_ && at > best_end_)) {
                found_ = true;
                best_start_ = start;
                best_end_ = at;
            }
            break;
        }
    }
}

bool search::run(size_t* end) {
    std::vector<thread>& now = m_.now;
    std::vector<thread>& next = m_.next;
    // A match may begin at `at`: where it cannot be empty, only at a byte
    // it can begin with.
    const auto may_begin = [&](size_t at) {
        return !m_.can_skip || (at < length_ && m_.first_bytes.has(static_cast<unsigned char>(text_[at])));
    };
    now.clear();
    new_generation();
    if (may_begin(from_)) add(now, 0, from_, from_);
    size_t checked_at = 0;
    for (size_t at = from_; at < length_; ++at) {
        if (steps_ - checked_at >= 4096) {
            checked_at = steps_;
            if (quit_requested() || time_limit_passed()) {
                last_steps = steps_;
                return false;
            }
        }
        if (now.empty() && found_) break;
        if (now.empty() && m_.can_skip) {
            // No thread runs: on to the next byte a match can begin with.
            while (at < length_ && !may_begin(at)) ++at;
            if (at == length_) break;
            new_generation();
            add(now, 0, at, at);
        }
        const unsigned char c = static_cast<unsigned char>(text_[at]);
        next.clear();
        new_generation();
        for (const thread& t : now) {
            if (found_ && t.start > best_start_) break;  // a later start cannot win
            ++steps_;
            const instruction& in = m_.code[static_cast<size_t>(t.pc)];
            const bool takes = in.op == OP_ANY || (in.op == OP_BYTE && in.arg == c) ||
                               (in.op == OP_SET && m_.sets[static_cast<size_t>(in.x)].has(c));
            if (takes) add(next, t.pc + 1, t.start, at + 1);
        }
        // Started last, so it comes last: the threads stay in the order
        // they started.
        if (!found_ && may_begin(at + 1)) add(next, 0, at + 1, at + 1);
        now.swap(next);
    }
    last_steps = steps_;
    if (!found_) return false;
    *end = best_end_;
    return true;
}

}  // namespace

bool matcher_find(const matcher& m, const char* text, size_t from, size_t length, bool at_line_start,
                  bool at_line_end, size_t* end) {
    if (from > length) return false;
    return search(m, text, from, length, at_line_start, at_line_end).run(end);
}

size_t matcher_size(const matcher& m) { return m.code.size(); }

size_t matcher_last_steps() { return last_steps; }

}  // namespace tolvane
