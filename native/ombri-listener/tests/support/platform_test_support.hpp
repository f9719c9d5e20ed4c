#pragma once
// Waiting helpers for tests of the threaded platform layer: they poll with a
// generous deadline, so a slow (sanitized, loaded) machine only waits longer.

#include <chrono>
#include <functional>
#include <thread>

#include "platform/hal_types.hpp"

namespace ombri::test {

inline constexpr std::chrono::seconds kPatience{10};

inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds patience = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

constexpr hal::AudioObjectPropertyAddress global(hal::AudioObjectPropertySelector selector) {
  return {selector, hal::kAudioObjectPropertyScopeGlobal, hal::kAudioObjectPropertyElementMain};
}
constexpr hal::AudioObjectPropertyAddress scoped(hal::AudioObjectPropertySelector selector,
                                                 hal::AudioObjectPropertyScope scope) {
  return {selector, scope, hal::kAudioObjectPropertyElementMain};
}

}  // namespace ombri::test
