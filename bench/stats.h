// Figures from several runs: each series keeps one value per run, and a
// run that failed marks the whole series.
#pragma once

#include <string>
#include <vector>

#include "bench/terminals.h"

namespace bench {

struct Series {
    std::vector<double> values;
    int failures = 0;
};

double median(std::vector<double> values);
// Nearest-rank percentile, p in 0..100.
double percentile(std::vector<double> values, double p);

// MB/s and CPU-seconds per MB (MB = 10^6 bytes) of one run.
void record_flow(const Flow& f, size_t bytes, Series& mb_per_s, Series& cpu_per_mb);
// One run's quotient of two figures measured side by side in that run.
void record_ratio(double mine, double peer, Series& ratio);
double mb_per_s(const Flow& f, size_t bytes);
double cpu_per_mb(const Flow& f, size_t bytes);

}  // namespace bench
