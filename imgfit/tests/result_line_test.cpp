#include "result_line.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace ombri_image {
namespace {

TEST(ResultLine, MembersInFixedOrderWithStreamNumberForms) {
  PhaseTimings timings;
  timings.readMs = 0.5;
  timings.metadataMs = 12.345678;
  timings.renderMs = 1234567.0;
  timings.encodeMs = 0.000015;
  timings.writeMs = 104.25;
  timings.flushMs = 0;
  timings.totalMs = 100000.0;
  timings.renderAttempts = 2;
  timings.encodeAttempts = 11;
  timings.cpu = CpuTimes{0.0001, 3.0};
  std::ostringstream out;
  writeResultLine(out, {4032, 3024, 3024, 4032, 1350, 1800}, 523001, timings);

  const std::string line = out.str();
  const std::string head =
      R"({"version":1,"status":"ok","mime":"image/jpeg","sourceWidth":4032,"sourceHeight":3024,)"
      R"("displayWidth":3024,"displayHeight":4032,"width":1350,"height":1800,"bytes":523001,"peakResidentBytes":)";
  const std::string tail =
      R"(,"phaseTimings":{"readMs":0.5,"metadataMs":12.3457,"renderMs":1.23457e+06,"encodeMs":1.5e-05,)"
      R"("writeMs":104.25,"flushMs":0,"totalMs":100000,"renderAttempts":2,"encodeAttempts":11,)"
      R"("userCpuMs":0.0001,"systemCpuMs":3}})"
      "\n";
  ASSERT_TRUE(line.starts_with(head)) << line;
  ASSERT_TRUE(line.ends_with(tail)) << line;
  const std::string peak = line.substr(head.size(), line.size() - head.size() - tail.size());
  EXPECT_FALSE(peak.empty());
  EXPECT_EQ(peak.find_first_not_of("0123456789"), std::string::npos) << peak;
  EXPECT_NE(peak.front(), '0');
}

TEST(ResultLine, CpuPairOnlyWhenPresent) {
  std::ostringstream out;
  writeResultLine(out, {1, 1, 1, 1, 1, 1}, 1, PhaseTimings{});
  EXPECT_TRUE(out.str().ends_with(R"("renderAttempts":0,"encodeAttempts":0}})"
                                  "\n"))
      << out.str();
}

TEST(ErrorLine, StatusWordFollowsExitStatus) {
  std::ostringstream unsupported, error;
  writeErrorLine(unsupported, ExitStatus::unsupported, "unsupported_format");
  writeErrorLine(error, ExitStatus::codecFailed, "native_failure");
  EXPECT_EQ(unsupported.str(), R"({"version":1,"status":"unsupported","code":"unsupported_format"})"
                               "\n");
  EXPECT_EQ(error.str(), R"({"version":1,"status":"error","code":"native_failure"})"
                         "\n");
}

}  // namespace
}  // namespace ombri_image
