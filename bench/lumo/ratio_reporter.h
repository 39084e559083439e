// Console reporter that keeps every run's time, so a benchmark can print its ratio to
// the baseline measured in the same run.
#pragma once

#include "bench_result.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    /// CPU time suits work done on one thread; real time suits work spread over peers.
    explicit RatioReporter(bool useCpuTime) : useCpuTime_(useCpuTime) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            times_[run.benchmark_name()] =
                useCpuTime_ ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
    }

    /// Prints measured / baseline, each the first run whose name starts with the prefix.
    void printRatio(const std::string& what, const std::string& measured,
                    const std::string& baseline, double goal) const {
        const double m = find(measured), b = find(baseline);
        if (m > 0 && b > 0)
            std::printf("ratio %-46s %6.2fx (goal <= %.1fx)\n", what.c_str(), m / b, goal);
        bench::atMost(what, m > 0 && b > 0 ? m / b : NAN, goal);
    }

private:
    double find(const std::string& prefix) const {
        auto it = times_.lower_bound(prefix);
        return it != times_.end() && it->first.compare(0, prefix.size(), prefix) == 0 ? it->second
                                                                                      : 0;
    }
    bool useCpuTime_;
    std::map<std::string, double> times_;
};
