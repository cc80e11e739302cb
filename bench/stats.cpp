#include "bench/stats.h"

#include <algorithm>
#include <cmath>

namespace bench {

double median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100 * static_cast<double>(values.size()));
    const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

double mb_per_s(const Flow& f, size_t bytes) { return static_cast<double>(bytes) / 1e6 / f.seconds; }

double cpu_per_mb(const Flow& f, size_t bytes) { return f.cpu_seconds / (static_cast<double>(bytes) / 1e6); }

void record_flow(const Flow& f, size_t bytes, Series& speed, Series& cpu) {
    if (!f.ok) {
        ++speed.failures;
        ++cpu.failures;
        return;
    }
    speed.values.push_back(mb_per_s(f, bytes));
    cpu.values.push_back(cpu_per_mb(f, bytes));
}

void record_ratio(double mine, double peer, Series& ratio) {
    if (std::isnan(mine) || std::isnan(peer) || peer <= 0) return;
    ratio.values.push_back(mine / peer);
}

}  // namespace bench
