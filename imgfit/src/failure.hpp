#pragma once
// The tool's one exception type: an exit status and a fixed lower snake case
// code, which the driver prints as the error line.

#include <stdexcept>

namespace ombri_image {

class Failure : public std::runtime_error {
 public:
  Failure(int status, const char* code) : std::runtime_error(code), exitStatus(status) {}

  int exitStatus;
};

}  // namespace ombri_image
