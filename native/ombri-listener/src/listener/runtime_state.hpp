#pragma once
// The whole mutable state of the listener: the reported status, the running
// capture and the event sender every producer clones.

#include <optional>
#include <string>

#include "base/result.hpp"
#include "protocol/event_channel.hpp"
#include "protocol/json.hpp"
#include "wav/wav_writer.hpp"

namespace ombri {

struct ListenerStatus {
  std::string state = "idle";  // "idle", "recording" or "error"
  std::optional<std::string> session_id;
  std::optional<std::string> started_at;
  std::optional<std::string> reason;

  Json to_json() const;
};

struct ActiveCapture {
  std::string session_id;
  std::string mic_path;
  std::optional<std::string> system_path;
  SharedWavWriter mic_writer;
};

struct StoppedCapture {
  std::string session_id;
  std::string mic_path;
  std::optional<std::string> system_path;
};

class RuntimeState {
 public:
  explicit RuntimeState(std::optional<EventSender> event_sender);

  // Takes the capture out and stops it; the state holds no capture afterwards
  // whatever happened. Never touches status or event_sender.
  Result<std::optional<StoppedCapture>> stop_active_capture();

  ListenerStatus status;
  std::optional<ActiveCapture> active_capture;
  std::optional<EventSender> event_sender;
};

Json status_event(const ListenerStatus& status);

}  // namespace ombri
