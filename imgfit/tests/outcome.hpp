#pragma once
// What a call that may throw Failure came to, as one comparable text:
// "ok", or the exit status and the code ("4 source_pixel_limit").

#include <string>

#include "failure.hpp"

namespace ombri_image::test_support {

template <class Call>
std::string outcome(Call&& call) {
  try {
    call();
    return "ok";
  } catch (const Failure& failure) {
    return std::to_string(static_cast<int>(failure.exitStatus)) + " " + failure.what();
  }
}

}  // namespace ombri_image::test_support
