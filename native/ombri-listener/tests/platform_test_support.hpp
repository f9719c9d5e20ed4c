#pragma once
// Waiting helpers for tests of the threaded platform layer: they poll with a
// generous deadline, so a slow (sanitized, loaded) machine only waits longer.

#include <chrono>
#include <functional>
#include <thread>

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

}  // namespace ombri::test
