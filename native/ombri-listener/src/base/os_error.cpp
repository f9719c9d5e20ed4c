#include "base/os_error.hpp"

#include <cstring>

namespace ombri {

std::string os_error_text(int error_number) {
  return std::string(std::strerror(error_number)) + " (os error " + std::to_string(error_number) + ")";
}

}  // namespace ombri
