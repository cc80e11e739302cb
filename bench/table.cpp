#include "bench/table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

namespace {

const char* const HEADINGS[] = {"figure", "tolvane", "peer", "peer's figure", "tolvane ÷ peer", "target", "met"};
constexpr size_t COLUMNS = sizeof HEADINGS / sizeof HEADINGS[0];
using Line = std::vector<std::string>;

// Three significant digits without an exponent for everyday sizes.
std::string number(double v) {
    char text[32];
    if (v == 0)
        std::snprintf(text, sizeof text, "0");
    else if (std::fabs(v) >= 100)
        std::snprintf(text, sizeof text, "%.0f", v);
    else if (std::fabs(v) >= 1e-4)
        std::snprintf(text, sizeof text, "%.3g", v);
    else
        std::snprintf(text, sizeof text, "%.2e", v);
    return text;
}

std::string goal_text(Goal g) {
    switch (g) {
        case Goal::at_least_one: return "≥ 1.0×";
        case Goal::at_most_one: return "≤ 1.0×";
        case Goal::at_most_1_5: return "≤ 1.5×";
        case Goal::below_100: return "< 100";
        case Goal::zero: return "0";
        case Goal::at_least_half: return "≥ 0.5×";
        case Goal::at_least_1: return "≥ 1";
        case Goal::at_least_100: return "≥ 100";
        case Goal::below_0_05: return "< 0.05";
        case Goal::at_least_0_9: return "≥ 0.9×";
        case Goal::at_least_0_8: return "≥ 0.8×";
        case Goal::at_most_1_2: return "≤ 1.2×";
        case Goal::none: break;
    }
    return "";
}

bool usable(const Series& s) { return s.failures == 0 && !s.values.empty(); }

bool on_ratio(Goal g) {
    return g == Goal::at_least_one || g == Goal::at_most_one || g == Goal::at_most_1_5 || g == Goal::at_least_half ||
           g == Goal::at_least_0_9 || g == Goal::at_least_0_8 || g == Goal::at_most_1_2;
}

bool meets(Goal g, double v) {
    switch (g) {
        case Goal::at_least_one: return v >= 1.0;
        case Goal::at_most_one: return v <= 1.0;
        case Goal::at_most_1_5: return v <= 1.5;
        case Goal::below_100: return v < 100;
        case Goal::zero: return v == 0;
        case Goal::at_least_half: return v >= 0.5;
        case Goal::at_least_1: return v >= 1;
        case Goal::at_least_100: return v >= 100;
        case Goal::below_0_05: return v < 0.05;
        case Goal::at_least_0_9: return v >= 0.9;
        case Goal::at_least_0_8: return v >= 0.8;
        case Goal::at_most_1_2: return v <= 1.2;
        case Goal::none: break;
    }
    return true;
}

std::string met_text(const Row& r) {
    if (r.goal == Goal::none) return "";
    if (r.mine_missing) return "not run";
    const Series& judged = on_ratio(r.goal) ? r.ratio : r.mine;
    if (on_ratio(r.goal) && r.peer_missing) return "no peer";
    if (!usable(judged)) return "—";
    return meets(r.goal, median(judged.values)) ? "yes" : "no";
}

Line cells(const Row& r) {
    const bool has_peer = !r.peer.empty();
    std::string theirs = has_peer ? (r.peer_missing ? "missing" : cell(r.theirs)) : "";
    std::string ratio = has_peer && !r.peer_missing && usable(r.ratio) ? number(median(r.ratio.values)) + "×" : "";
    if (has_peer && ratio.empty()) ratio = "—";
    return {r.figure, r.mine_missing ? "missing" : cell(r.mine), r.peer, theirs, ratio, goal_text(r.goal), met_text(r)};
}

// Display width: UTF-8 continuation bytes take no column.
size_t width(const std::string& s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void print_line(const Line& line, const std::vector<size_t>& widths) {
    std::string out = "|";
    for (size_t i = 0; i < COLUMNS; ++i) out += " " + line[i] + std::string(widths[i] - width(line[i]), ' ') + " |";
    std::puts(out.c_str());
}

}  // namespace

std::string cell(const Series& s) {
    if (s.failures > 0)
        return "failed (" + std::to_string(s.failures) + " of " + std::to_string(s.failures + s.values.size()) + ")";
    if (s.values.empty()) return "—";
    return number(median(s.values));
}

void print_table(const std::string& title, const std::vector<Row>& rows) {
    std::vector<Line> lines{Line(HEADINGS, HEADINGS + COLUMNS)};
    for (const Row& r : rows) lines.push_back(cells(r));
    std::vector<size_t> widths(COLUMNS, 3);
    for (const Line& l : lines)
        for (size_t i = 0; i < COLUMNS; ++i) widths[i] = std::max(widths[i], width(l[i]));
    std::printf("%s\n\n", title.c_str());
    print_line(lines[0], widths);
    Line rule;
    for (size_t w : widths) rule.push_back(std::string(w, '-'));
    print_line(rule, widths);
    for (size_t i = 1; i < lines.size(); ++i) print_line(lines[i], widths);
    std::fflush(stdout);
}

}  // namespace bench
