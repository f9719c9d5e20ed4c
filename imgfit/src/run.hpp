#pragma once
// The driver: parse, read, check, open the codec, search, write, report.
// A template over the codec so the search and the report can be tested
// with a scripted codec. A codec is an ImageSizes that is constructed from
// the source bytes and offers render(edge) and encode(quality, budget).

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <vector>

#include "failure.hpp"
#include "files.hpp"
#include "format_check.hpp"
#include "options.hpp"
#include "phase_timings.hpp"
#include "resource_usage.hpp"
#include "result_line.hpp"
#include "search.hpp"

namespace ombri_image {

template <class Codec>
int run(const std::vector<std::filesystem::path>& args) {
  const Clock::time_point runStart = Clock::now();
  try {
    const auto firstSample = sampleResourceUsage();
    PhaseTimings timings;
    const Options options = parseOptions(args);

    Clock::time_point start = Clock::now();
    const std::vector<std::uint8_t> source = readSource(options.inputPath);
    timings.readMs = millisecondsBetween(start, Clock::now());

    checkFormat(source);
    start = Clock::now();
    Codec codec(source);
    timings.metadataMs = millisecondsBetween(start, Clock::now());

    const std::vector<std::uint8_t> jpeg = shrinkToFit(codec, options.maxEdge, options.maxBytes, timings);
    writeOutput(options.outputPath, jpeg, &timings);
    timings.totalMs = millisecondsBetween(runStart, Clock::now());

    const auto secondSample = sampleResourceUsage();
    if (firstSample && secondSample) {
      timings.cpu = CpuTimes{std::max(secondSample->userCpuMs - firstSample->userCpuMs, 0.0),
                             std::max(secondSample->systemCpuMs - firstSample->systemCpuMs, 0.0)};
    }
    writeResultLine(std::cout, codec, jpeg.size(), timings);
    // Flushed before the check: a result line lost after exit 0 would report
    // a failure as success.
    std::cout.flush();
    if (!std::cout) throw Failure(ExitStatus::fileSystem, "metadata_write_failed");
    return static_cast<int>(ExitStatus::success);
  } catch (const Failure& failure) {
    writeErrorLine(std::cerr, failure.exitStatus, failure.what());
    return static_cast<int>(failure.exitStatus);
  } catch (...) {
    writeErrorLine(std::cerr, ExitStatus::codecFailed, "native_failure");
    return static_cast<int>(ExitStatus::codecFailed);
  }
}

}  // namespace ombri_image
