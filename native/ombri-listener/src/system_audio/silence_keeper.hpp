#pragma once
// While a system-audio capture runs, the listener keeps a silent output
// stream of its own running on the current default output device, and moves
// it to a new device when the name of the default output changes (checked
// every 3 s).
//
// The keeper thread belongs to its SilenceKeeper: releasing the keeper wakes
// the thread at once and waits until it has dropped its stream and ended, so
// no keeper outlives the capture that started it.

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "platform/audio_io.hpp"

namespace ombri {

inline constexpr std::chrono::milliseconds kSilenceRecheck{3000};

class SilenceKeeper {
 public:
  // Starts the keeper thread, whose first pass runs at once. Failing to start
  // it ends the process.
  static SilenceKeeper spawn(std::chrono::milliseconds recheck = kSilenceRecheck);

  SilenceKeeper(SilenceKeeper&&) noexcept = default;
  // Ends the keeper held before, then takes `other`'s.
  SilenceKeeper& operator=(SilenceKeeper&& other) noexcept;
  ~SilenceKeeper();

  struct Channel;

 private:
  SilenceKeeper(std::shared_ptr<Channel> channel, std::thread thread);

  std::shared_ptr<Channel> channel_;
  std::thread thread_;
};

// The keeper of a running capture.
SilenceKeeper spawn_silence_stream();

// A running output stream on `device` that renders nothing but zeros, when
// the device's default output configuration is 32-bit float and the stream
// builds and starts; nothing otherwise.
std::optional<audio_io::Stream> open_zero_stream(const audio_io::Device& device);

}  // namespace ombri
