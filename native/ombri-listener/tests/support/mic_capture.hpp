#pragma once
// An active capture whose microphone file already holds samples, for tests
// of what stopping it does.

#include <gtest/gtest.h>

#include <string>

#include "listener/runtime_state.hpp"

namespace ombri::test {

// `samples` values 0, 1, 2, ... in a 16 kHz file of `channels` channels.
inline ActiveCapture capture_writing(const std::string& path, std::uint16_t channels, int samples) {
  auto writer = WavWriter::create(path, channels, 16000);
  EXPECT_TRUE(writer);
  for (int i = 0; i < samples; ++i) EXPECT_TRUE(writer->write_sample(static_cast<short>(i)));
  return ActiveCapture{.session_id = "mic-m",
                       .mic_path = path,
                       .system_path = std::nullopt,
                       .system_capture = std::nullopt,
                       .mic_writer = share_wav_writer(std::move(*writer)),
                       .mic_stream = std::nullopt};
}

}  // namespace ombri::test
