#include "result_line.hpp"

#include "resource_usage.hpp"

namespace ombri_image {

void writeResultLine(std::ostream& out, const ImageSizes& sizes, std::uint64_t bytes, const PhaseTimings& timings) {
  out << R"({"version":1,"status":"ok","mime":"image/jpeg","sourceWidth":)" << sizes.sourceWidth
      << R"(,"sourceHeight":)" << sizes.sourceHeight << R"(,"displayWidth":)" << sizes.displayWidth
      << R"(,"displayHeight":)" << sizes.displayHeight << R"(,"width":)" << sizes.width << R"(,"height":)"
      << sizes.height << R"(,"bytes":)" << bytes;
  if (const auto sample = sampleResourceUsage(); sample && sample->peakResidentBytes != 0) {
    out << R"(,"peakResidentBytes":)" << sample->peakResidentBytes;
  }
  // Milliseconds in the stream's default form: six significant digits.
  out << R"(,"phaseTimings":{"readMs":)" << timings.readMs << R"(,"metadataMs":)" << timings.metadataMs
      << R"(,"renderMs":)" << timings.renderMs << R"(,"encodeMs":)" << timings.encodeMs << R"(,"writeMs":)"
      << timings.writeMs << R"(,"flushMs":)" << timings.flushMs << R"(,"totalMs":)" << timings.totalMs
      << R"(,"renderAttempts":)" << timings.renderAttempts << R"(,"encodeAttempts":)" << timings.encodeAttempts;
  if (timings.cpu) {
    out << R"(,"userCpuMs":)" << timings.cpu->userCpuMs << R"(,"systemCpuMs":)" << timings.cpu->systemCpuMs;
  }
  out << "}}\n";
}

void writeErrorLine(std::ostream& out, ExitStatus exitStatus, const char* code) {
  out << R"({"version":1,"status":")" << (exitStatus == ExitStatus::unsupported ? "unsupported" : "error")
      << R"(","code":")" << code << "\"}\n";
}

}  // namespace ombri_image
