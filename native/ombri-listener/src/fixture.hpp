#pragma once
// Fixture WAV mode: deterministic events from two WAV files, for tests of the
// protocol without audio hardware.

#include <string>
#include <vector>

#include "result.hpp"

namespace ombri {

// The "--input-wav" command line; the arguments after the program name.
Result<void> run_input_wav_mode(const std::vector<std::string>& args);

}  // namespace ombri
