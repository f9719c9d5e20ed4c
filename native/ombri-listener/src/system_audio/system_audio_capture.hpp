#pragma once
// System audio capture: the mix of every process's output, taken from a
// process tap on a private aggregate device and recorded into
// "audio-system.wav" in the meeting directory, with level reports and,
// when asked, live chunks for the parent.
//
// start(), finish() and spawn_permission_probe() run on the main thread.
// While a capture lives, the device's IO thread runs tap_io_proc on `ctx_`,
// the drain thread empties the ring into the WAV, and the silence keeper
// holds a silent output stream open.

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/result.hpp"
#include "platform/hal.hpp"
#include "protocol/event_channel.hpp"
#include "protocol/level_hub.hpp"
#include "system_audio/shared_flag.hpp"
#include "system_audio/silence_keeper.hpp"
#include "system_audio/stream_sink.hpp"
#include "system_audio/tap_io_proc.hpp"
#include "wav/wav_writer.hpp"

namespace ombri {

class SystemAudioCapture {
 public:
  // Starts capturing into "audio-system.wav" in `dir` (a directory that
  // exists). `levels` and `sink` move into the capture's threads, or are
  // released when the start fails; the failure is one text.
  static Result<SystemAudioCapture> start(const std::string& dir, std::shared_ptr<LevelHub> levels,
                                          std::optional<StreamSink> sink);

  // Stops and destroys the device, lets the drain thread write out what the
  // tap delivered, and finalises the WAV; the capture is gone whatever it
  // returns, its threads ended.
  static Result<void> finish(SystemAudioCapture capture);

  // Starts the detached thread that plays the probe tone and tells the parent
  // whether the tap delivers sound. `stop` is a handle of this capture's stop flag.
  void spawn_permission_probe(std::string session_id, EventSender events, SharedFlag stop) const;

  SystemAudioCapture(SystemAudioCapture&&) noexcept;
  // Releases the capture held before (as the destructor does), then takes `other`'s.
  SystemAudioCapture& operator=(SystemAudioCapture&& other) noexcept;
  // Released without finish(): stops and destroys the device and lets the
  // drain thread end as finish() does, but leaves the WAV to its last
  // handle, which completes the header without reporting errors.
  ~SystemAudioCapture();

  // The path of "audio-system.wav", as text.
  std::string path;
  // Set only by finish(); the drain thread and the probe read it.
  SharedFlag stop_flag;

 private:
  SystemAudioCapture() = default;
  // Stops and destroys the device (no callback runs after it), sets the stop
  // flag and waits for the drain thread, which writes what the ring holds,
  // sends the last chunk and destroys the tap.
  void end_recording();
  // end_recording(), then what the callback used, then the silence keeper.
  void stop_and_release();

  SharedWavWriter writer_;
  SharedFlag live_flag_;
  std::thread drain_;
  // Started with the IO proc `proc_`; destroying it takes the proc with it.
  hal::AggregateDevice device_;
  hal::AudioDeviceIOProcID proc_ = 0;
  std::unique_ptr<Ctx> ctx_;  // the IO proc's client data; released only after the device is gone
  std::optional<SilenceKeeper> silence_;
};

}  // namespace ombri
