#pragma once
// Speech enhancement: a WAV file through the RNNoise network into a new mono
// 48 kHz 16-bit WAV file. Streams: memory does not grow with the file.

#include <cstdint>
#include <string>

#include "base/result.hpp"

namespace ombri {

struct EnhanceSummary {
  std::string output;    // the output path as given
  double input_seconds;  // complete input frames / input rate
  std::uint64_t frames;  // 480-sample frames denoised, the zero-filled last one included
  double vad_mean;       // mean voice-activity probability, 0.0 without frames
};

// Error texts are lower case without a final point. The input is checked
// first (a FIFO, socket or device is refused before it is opened, anything
// else is opened and its header read), then its rate, then the output:
// every output that enhance_destination (processing/enhance_output.hpp)
// refuses is refused before anything is created, the input file itself and
// a recording in progress among them, so a recording is never destroyed; a
// path holding a NUL character fails as one that cannot be opened. The
// output is written under a temporary name in the directory of the file its
// links lead to and renamed over that file when complete: it holds the
// whole result or stays as it was, and concurrent calls for one output leave
// the complete result of one of them. Thread-safe.
Result<EnhanceSummary> enhance_wav(const std::string& input, const std::string& output);

// Beside the input, named by its stem ("audio" when it has none) and "-enhanced.wav".
std::string default_output_path(const std::string& input);

}  // namespace ombri
