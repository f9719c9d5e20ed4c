#pragma once
// System audio capture: the mix of every process's output, taken from a
// process tap on a private aggregate device and recorded into
// "audio-system.wav" in the meeting directory, with level reports and,
// when asked, live chunks for the parent.
//
// start(), finish() and spawn_permission_probe() run on the main thread.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "base/result.hpp"
#include "protocol/event_channel.hpp"
#include "protocol/level_hub.hpp"

namespace ombri {

// Where live chunks go when the session streams system audio.
struct StreamSink {
  EventSender event_sender;
  std::string session_id;  // carried by every chunk
};

// A flag shared between the capture and its threads.
using SharedFlag = std::shared_ptr<std::atomic<bool>>;

class SystemAudioCapture {
 public:
  // Starts capturing into "audio-system.wav" in `dir` (a directory that
  // exists). `levels` and `sink` move into the capture's threads, or are
  // released when the start fails; the failure is one text.
  static Result<SystemAudioCapture> start(const std::string& dir, std::shared_ptr<LevelHub> levels,
                                          std::optional<StreamSink> sink);

  // Stops the device, lets the drain thread write out what the tap delivered,
  // and finalises the WAV; the capture is gone whatever it returns.
  static Result<void> finish(SystemAudioCapture capture);

  // Starts the detached thread that plays the probe tone and tells the parent
  // whether the tap delivers sound. `stop` is a handle of this capture's stop flag.
  void spawn_permission_probe(std::string session_id, EventSender events, SharedFlag stop) const;

  SystemAudioCapture(SystemAudioCapture&&) noexcept;
  SystemAudioCapture& operator=(SystemAudioCapture&&) noexcept;
  ~SystemAudioCapture();

  // The path of "audio-system.wav", as text.
  std::string path;
  // Set only by finish(); the drain thread and the probe read it.
  SharedFlag stop_flag;

 private:
  SystemAudioCapture();
};

}  // namespace ombri
