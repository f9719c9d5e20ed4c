#pragma once
// The search under the byte budget: a fixed quality ladder at each size,
// and three-quarter shrink steps down to a minimum edge. It depends only on
// the codec interface: sizes, render(edge), encode(quality, budget).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "failure.hpp"
#include "phase_timings.hpp"

namespace ombri_image {

inline constexpr std::array<double, 9> kQualityLadder = {0.82, 0.74, 0.66, 0.58, 0.50, 0.42, 0.34, 0.32, 0.30};
inline constexpr std::uint32_t kMinimumEdge = 384;

template <class Codec>
std::vector<std::uint8_t> timedEncode(Codec& codec, double quality, std::uint64_t budget, PhaseTimings& timings) {
  const Clock::time_point start = Clock::now();
  std::vector<std::uint8_t> jpeg = codec.encode(quality, budget);
  timings.encodeMs += millisecondsBetween(start, Clock::now());
  ++timings.encodeAttempts;
  return jpeg;
}

inline bool fits(const std::vector<std::uint8_t>& jpeg, std::uint64_t budget) {
  return !jpeg.empty() && jpeg.size() <= budget;
}

// The best and the floor quality first, so a size that cannot fit costs two
// encodes; then the middle of the ladder from the top. Empty when not even
// the floor fits.
template <class Codec, std::size_t N>
std::vector<std::uint8_t> encodeFeasible(Codec& codec, std::uint64_t budget, PhaseTimings& timings,
                                         const std::array<double, N>& ladder) {
  static_assert(N >= 2);
  std::vector<std::uint8_t> best = timedEncode(codec, ladder[0], budget, timings);
  if (fits(best, budget)) return best;
  std::vector<std::uint8_t> floor = timedEncode(codec, ladder[N - 1], budget, timings);
  if (!fits(floor, budget)) return {};
  for (std::size_t i = 1; i + 1 < N; ++i) {
    std::vector<std::uint8_t> middle = timedEncode(codec, ladder[i], budget, timings);
    if (fits(middle, budget)) return middle;
  }
  return floor;
}

// Renders afresh at each edge until an encode fits; the codec's width and
// height then describe the returned JPEG.
template <class Codec>
std::vector<std::uint8_t> shrinkToFit(Codec& codec, std::uint32_t maxEdge, std::uint64_t maxBytes,
                                      PhaseTimings& timings) {
  std::uint32_t edge = std::min(maxEdge, std::max(codec.displayWidth, codec.displayHeight));
  const std::uint32_t minimumEdge = std::min(edge, kMinimumEdge);
  for (;;) {
    const Clock::time_point start = Clock::now();
    codec.render(edge);
    timings.renderMs += millisecondsBetween(start, Clock::now());
    ++timings.renderAttempts;

    std::vector<std::uint8_t> jpeg = encodeFeasible(codec, maxBytes, timings, kQualityLadder);
    if (!jpeg.empty()) return jpeg;
    if (edge == minimumEdge) throw Failure(ExitStatus::budgetUnreachable, "output_budget_unreachable");
    edge = std::max(edge * 3 / 4, minimumEdge);
  }
}

}  // namespace ombri_image
