#include "listener/runtime_state.hpp"

#include <fmt/format.h>

#include <vector>

namespace ombri {

Json ListenerStatus::to_json() const {
  return Json{{"state", state},
              {"sessionId", optional_text(session_id)},
              {"startedAt", optional_text(started_at)},
              {"reason", optional_text(reason)}};
}

Json status_event(const ListenerStatus& status) { return Json{{"type", "status"}, {"status", status.to_json()}}; }

RuntimeState::RuntimeState(std::optional<EventSender> sender) : event_sender(std::move(sender)) {}

Result<std::optional<StoppedCapture>> RuntimeState::stop_active_capture() {
  if (!active_capture) return std::optional<StoppedCapture>{};
  ActiveCapture capture = std::move(*active_capture);
  active_capture.reset();

  StoppedCapture stopped{capture.session_id, capture.mic_path, capture.system_path};
  std::vector<std::string> errors;

  // No callback runs once the stream is gone, so none holds the writer's lock below.
  capture.mic_stream.reset();
  {
    std::optional<WavWriter> writer;
    {
      auto guard = capture.mic_writer->lock();
      if (guard.poisoned()) {
        errors.emplace_back("Mic WAV writer lock was poisoned.");
      } else {
        if (*guard) writer.emplace(std::move(**guard));
        guard->reset();
      }
    }
    if (writer) {
      if (auto finalized = writer->finalize(); !finalized)
        errors.push_back(fmt::format("Failed to finalize mic WAV: {}", finalized.error()));
    }
  }
  if (capture.system_capture) {
    if (auto finished = SystemAudioCapture::finish(std::move(*capture.system_capture)); !finished)
      errors.push_back(finished.error());
    capture.system_capture.reset();
  }
  // Releasing the last handle completes the header of a writer still inside.
  capture.mic_writer.reset();

  if (errors.empty()) return std::optional<StoppedCapture>{std::move(stopped)};
  return ErrorText{fmt::format("{}", fmt::join(errors, " "))};
}

}  // namespace ombri
