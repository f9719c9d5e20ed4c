#pragma once
// Runs the benchmarks, then prints how much slower ours is than the library alone.
// Repetitions of the two run interleaved in random order and their medians are
// compared, so a warm-up or a slower stretch of the machine does not fall on
// one side only.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace ombri::bench {

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians[run.run_name.str()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

// `ours` and `alone` are the benchmark names as printed, without "_median".
// Flags given on the command line come after the defaults and win.
inline int run_with_overhead(int argc, char** argv, const std::string& ours, const std::string& alone, const char* what,
                             double target_percent) {
  std::string repetitions = "--benchmark_repetitions=7";
  std::string interleaving = "--benchmark_enable_random_interleaving=true";
  std::string aggregates = "--benchmark_report_aggregates_only=true";
  std::vector<char*> args{argv[0], repetitions.data(), interleaving.data(), aggregates.data()};
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto a = reporter.medians.find(ours);
  const auto b = reporter.medians.find(alone);
  if (a != reporter.medians.end() && b != reporter.medians.end())
    std::printf("%s: %.1f%% (target: at most %.0f%%)\n", what, 100.0 * (a->second / b->second - 1.0), target_percent);
  benchmark::Shutdown();
  return 0;
}

}  // namespace ombri::bench
