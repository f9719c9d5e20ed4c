#pragma once
// The consumer side of system audio capture: takes the tap's samples out of
// the ring in batches and, per batch, writes "audio-system.wav" (resampled to
// 48 kHz for a mono tap), raises the live flag, reports the peak to the
// session's LevelHub and, when streaming, sends live chunks. It owns the
// process tap and destroys it when it ends.
//
// The thread runs until it finds the ring empty with the stop flag set, so
// everything the callback delivered before the flag was set is written.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "platform/hal.hpp"
#include "protocol/level_hub.hpp"
#include "system_audio/linear_resampler.hpp"
#include "system_audio/sample_ring.hpp"
#include "system_audio/shared_flag.hpp"
#include "system_audio/stream_state.hpp"
#include "wav/wav_writer.hpp"

namespace ombri {

inline constexpr std::size_t kDrainBatchSamples = 4096;

// Where live chunks go, and the tap's shape that they are made from.
struct LiveStream {
  StreamSink sink;
  std::uint32_t tap_rate;
  std::uint16_t tap_channels;
};

// What the thread is given; all of it moves into the thread.
struct DrainInputs {
  RingConsumer consumer;
  SharedWavWriter writer;
  SharedFlag stop;
  SharedFlag live;
  std::shared_ptr<LevelHub> levels;
  std::optional<LiveStream> stream;              // present when streaming
  std::optional<LinearResampler> wav_resampler;  // present for a mono tap
  hal::ProcessTap tap;
};

// The thread's work, one batch at a time; the thread runs it, and so can a
// test or a benchmark on its own thread.
class Drain {
 public:
  explicit Drain(DrainInputs inputs);

  // Takes up to one batch out of the ring and processes it; false when the ring was empty.
  bool drain_batch();

  // Until the ring is empty with the stop flag set, then the exit sequence.
  void run();

 private:
  void process(std::span<const float> batch);
  void reread_tap_rate();
  void write_wav(std::span<const float> batch);

  DrainInputs in_;
  std::vector<float> batch_;
  std::optional<StreamState> stream_;
  std::vector<std::int16_t> wav_samples_;
  std::uint32_t batches_ = 0;
};

// Starts the drain thread; failing to start it ends the process.
std::thread spawn_drain_thread(DrainInputs inputs);

}  // namespace ombri
