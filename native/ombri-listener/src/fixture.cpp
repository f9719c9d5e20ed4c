#include "fixture.hpp"

namespace ombri {

Result<void> run_input_wav_mode(const std::vector<std::string>&) {
  return ErrorText{"Fixture WAV mode is not available in this build."};
}

}  // namespace ombri
