#include "listener/mic_stream.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_support.hpp"

namespace ombri {
namespace {

using test::TempDir;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Feeds one buffer to a fresh session's callback; returns what the file holds
// (read by libsndfile) and the "mic" value of the level event it sent.
template <class T>
std::pair<std::vector<short>, double> one_buffer(std::vector<T> buffer, std::uint16_t channels = 1) {
  TempDir dir;
  const std::string path = dir.file("audio-mic.wav");
  auto writer = share_wav_writer(WavWriter::create(path, channels, 48000).value());
  auto [sender, receiver] = make_event_channel();
  auto levels = std::make_shared<LevelHub>(std::move(sender), "mic-m");
  {
    auto callback = mic_audio_callback<T>(writer, levels);
    callback(std::span<const T>(buffer));
  }
  levels.reset();
  auto event = receiver.receive();
  EXPECT_TRUE(event);
  EXPECT_FALSE(receiver.receive()) << "one report per buffer";
  auto taken = std::move(**writer->lock());
  EXPECT_TRUE(taken.finalize());
  return {test::read_with_sndfile(path).samples, event ? (*event)["mic"].get<double>() : -1.0};
}

TEST(MicStream, ConvertsEachSampleTypeByItsTable) {
  using Samples = std::vector<short>;
  EXPECT_EQ(one_buffer<float>({0.5f, -2.0f, kNaN, 1.0f, -1.0f, kInf, -0.99999f}),
            std::make_pair(Samples{16383, -32767, 0, 32767, -32767, 32767, -32766}, 1.0));
  EXPECT_EQ(one_buffer<float>({kNaN, kNaN}), std::make_pair(Samples{0, 0}, 0.0));
  EXPECT_EQ(one_buffer<float>({0.25f, -0.5f}), std::make_pair(Samples{8191, -16383}, 0.5));
  EXPECT_EQ(one_buffer<std::int16_t>({-32768, 0, 32767}), std::make_pair(Samples{-32768, 0, 32767}, 1.0));
  EXPECT_EQ(one_buffer<std::int16_t>({16384}), std::make_pair(Samples{16384}, double(16384.0f / 32767.0f)));
  EXPECT_EQ(one_buffer<std::uint16_t>({0, 32768, 65535}), std::make_pair(Samples{-32768, 0, 32767}, 1.0));
  EXPECT_EQ(one_buffer<float>({}), std::make_pair(Samples{}, 0.0));
  // Frames are written as delivered, channels interleaved.
  EXPECT_EQ(one_buffer<std::int16_t>({1, -1, 2, -2}, 2),
            std::make_pair(Samples{1, -1, 2, -2}, double(2.0f / 32767.0f)));
}

TEST(MicStream, LevelsKeepTheUnclampedPeakUntilSent) {
  EXPECT_FLOAT_EQ(mic_sample(std::int16_t{-32768}).level, 1.000030517578125f);
  EXPECT_EQ(mic_sample(std::uint16_t{0}).level, 1.0f);
  EXPECT_TRUE(std::isnan(mic_sample(kNaN).level));
}

TEST(MicStream, DropsSamplesOfATakenOrPoisonedWriter) {
  TempDir dir;
  auto writer = share_wav_writer(WavWriter::create(dir.file("a.wav"), 1, 8000).value());
  write_pcm_sample(writer, 1);
  std::optional<WavWriter> taken = std::move(*writer->lock());
  writer->lock()->reset();
  write_pcm_sample(writer, 2);  // absent: dropped
  EXPECT_EQ(taken->samples_written(), 1u);

  auto poisoned = share_wav_writer(WavWriter::create(dir.file("b.wav"), 1, 8000).value());
  test::poison(*poisoned);
  write_pcm_sample(poisoned, 3);
  // The slot still holds the writer; nothing reached it.
  auto slot = poisoned->lock();
  EXPECT_EQ((*slot)->samples_written(), 0u);
}

TEST(MicStream, ErrorCallbackWritesOneLine) {
  testing::internal::CaptureStderr();
  report_mic_stream_error({audio_io::StreamError::Kind::DeviceNotAvailable, "gone"});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ombri-listener mic stream error: gone\n");
}

}  // namespace
}  // namespace ombri
