#pragma once
// A flag shared between a capture and its threads: set with release stores,
// read with acquire loads.

#include <atomic>
#include <memory>

namespace ombri {

using SharedFlag = std::shared_ptr<std::atomic<bool>>;

inline SharedFlag make_shared_flag() { return std::make_shared<std::atomic<bool>>(false); }

}  // namespace ombri
