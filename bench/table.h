// The one table the benchmark prints: each figure of tolvane beside its
// peer's from the same runs, their quotient, and the target it is held to.
#pragma once

#include <string>
#include <vector>

#include "bench/stats.h"

namespace bench {

enum class Goal {
    none,
    at_least_one,  // tolvane ÷ peer ≥ 1.0
    at_most_one,   // tolvane ÷ peer ≤ 1.0
    at_most_1_5,   // tolvane ÷ peer ≤ 1.5
    below_100,     // the figure itself < 100
    zero,          // the figure itself = 0
    at_least_half,  // tolvane ÷ peer ≥ 0.5
    at_least_1,     // the figure itself ≥ 1
    at_least_100,   // the figure itself ≥ 100
    below_0_05,     // the figure itself < 0.05
    at_least_0_9,   // tolvane ÷ peer ≥ 0.9
    at_least_0_8,   // tolvane ÷ peer ≥ 0.8
    at_most_1_2,    // tolvane ÷ peer ≤ 1.2
};

struct Row {
    std::string figure;
    Series mine;
    bool mine_missing = false;  // the measured program cannot run here
    std::string peer;  // "" when the figure has no peer
    bool peer_missing = false;
    Series theirs;
    Series ratio;  // medians of the runs' quotients
    Goal goal = Goal::none;
};

// The cell for a series: its median, "failed" or "—".
std::string cell(const Series& s);
void print_table(const std::string& title, const std::vector<Row>& rows);

}  // namespace bench
