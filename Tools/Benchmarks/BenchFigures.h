#pragma once
// Figures of repeated timings: the minimum (what the code takes when nothing
// else gets in the way) and the median (what it usually takes on a busy
// machine), and for frame times the 99th percentile and the worst.
#include <algorithm>
#include <cstdio>
#include <vector>

namespace BenchFigures {

struct Spread
{
    double minimum = 0.0;
    double median = 0.0;
    double percentile99 = 0.0;
    double worst = 0.0;
};

inline Spread of(std::vector<double> samples)
{
    Spread s;
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    s.minimum = samples.front();
    s.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) * 0.5;
    s.percentile99 = samples[std::min(n - 1, (n * 99 + 99) / 100 - 1)];
    s.worst = samples.back();
    return s;
}

// Runs measure() repeats times; each run returns its own figure (seconds).
template <class Measure>
Spread repeat(int repeats, Measure measure)
{
    std::vector<double> runs;
    for (int r = 0; r < repeats; ++r)
        runs.push_back(measure());
    return of(std::move(runs));
}

// "label   min X unit, median Y unit", the figures scaled from seconds.
inline void print(const char* label, const Spread& s, double scale, const char* unit)
{
    std::printf("%-52s min %9.4f %s, median %9.4f %s\n", label, s.minimum * scale, unit, s.median * scale, unit);
}

}
