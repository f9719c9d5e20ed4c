#include "wav/pcm16_sample.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

namespace ombri {
namespace {

TEST(Pcm16FromFloat, ClampsScalesAndTruncates) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<float, std::int16_t> cases[] = {
      {0.0f, 0},    {1.0f, 32767},  {-1.0f, -32767},   {2.5f, 32767}, {-1.000030517578125f, -32767},
      {inf, 32767}, {-inf, -32767}, {nan, 0},          {0.5f, 16383}, {-0.5f, -16383},
      {1e-5f, 0},   {-1e-5f, 0},    {0.99999f, 32766},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(pcm16_from_float(in), out) << in;
}

}  // namespace
}  // namespace ombri
