#pragma once
// The whole mutable state of the listener: the reported status, the running
// capture and the event sender every producer clones. Belongs to the main
// thread; nothing in it is locked.

#include <optional>
#include <string>

#include "base/result.hpp"
#include "platform/audio_io.hpp"
#include "protocol/event_channel.hpp"
#include "protocol/json.hpp"
#include "system_audio/system_audio_capture.hpp"
#include "wav/wav_writer.hpp"

namespace ombri {

struct ListenerStatus {
  std::string state = "idle";  // "idle", "recording" or "error"
  std::optional<std::string> session_id;
  std::optional<std::string> started_at;
  std::optional<std::string> reason;

  Json to_json() const;
};

// A normal capture from its start until it is stopped.
struct ActiveCapture {
  std::string session_id;
  std::string mic_path;
  std::optional<std::string> system_path;  // present exactly with system_capture
  // Released without stop_active_capture(), C++ destroys these from the last
  // up: the stream stops first (no callback runs after), then the writer's
  // last handle completes the header of "audio-mic.wav", then system audio
  // goes without its finish.
  std::optional<SystemAudioCapture> system_capture;
  SharedWavWriter mic_writer;  // the mic callback holds the other handle
  std::optional<audio_io::Stream> mic_stream;
};

struct StoppedCapture {
  std::string session_id;
  std::string mic_path;
  std::optional<std::string> system_path;
};

class RuntimeState {
 public:
  explicit RuntimeState(std::optional<EventSender> event_sender);

  // Takes the capture out and stops it: the microphone stream, then its WAV,
  // then system audio, each whatever the one before gave. The state holds no
  // capture afterwards whatever happened. Never touches status or event_sender.
  // Errors are joined by one blank, the microphone's first.
  Result<std::optional<StoppedCapture>> stop_active_capture();

  ListenerStatus status;
  std::optional<ActiveCapture> active_capture;
  std::optional<EventSender> event_sender;
};

Json status_event(const ListenerStatus& status);

}  // namespace ombri
