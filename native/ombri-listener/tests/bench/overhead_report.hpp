#pragma once
// Runs the benchmarks, then prints how much slower ours is than the library alone.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace ombri::bench {

class TimingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) seconds[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
};

// `ours` and `alone` are the reported benchmark names.
inline int run_with_overhead(int argc, char** argv, const std::string& ours, const std::string& alone,
                             const char* what, double target_percent) {
  benchmark::Initialize(&argc, argv);
  TimingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto a = reporter.seconds.find(ours);
  const auto b = reporter.seconds.find(alone);
  if (a != reporter.seconds.end() && b != reporter.seconds.end())
    std::printf("%s: %.1f%% (target: at most %.0f%%)\n", what, 100.0 * (a->second / b->second - 1.0), target_percent);
  benchmark::Shutdown();
  return 0;
}

}  // namespace ombri::bench
