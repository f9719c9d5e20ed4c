#include "commands.hpp"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "capture_start.hpp"
#include "processing.hpp"
#include "readiness.hpp"
#include "smoke.hpp"
#include "text.hpp"

namespace ombri {
namespace {

void handle_status(CommandOutcome& outcome, const RuntimeState& state, const std::string& id) {
  outcome.response = response_ok(id, state.status.to_json());
}

void handle_stop(CommandOutcome& outcome, RuntimeState& state, const std::string& id) {
  const std::string stopped_at = timestamp_now();
  auto stopped = state.stop_active_capture();

  std::optional<std::string> session_id = state.status.session_id;
  Json audio_paths{{"mic", nullptr}, {"system", nullptr}};
  if (stopped && *stopped) {
    const StoppedCapture& capture = **stopped;
    session_id = capture.session_id;
    audio_paths = Json{{"mic", capture.mic_path}, {"system", optional_text(capture.system_path)}};
  }

  state = RuntimeState(state.event_sender);

  if (!stopped) {
    outcome.response = response_error(id, "capture_stop_failed", stopped.error());
  } else {
    outcome.response = response_ok(
        id, Json{{"sessionId", optional_text(session_id)}, {"stoppedAt", stopped_at}, {"audioPaths", audio_paths}});
  }
  outcome.events.push_back(status_event(state.status));
}

// A command whose handling this build does not have yet.
void handle_unavailable(CommandOutcome& outcome, const std::string& id) {
  outcome.response = response_error(id, "not_available", "This command is not available in this build.");
}

}  // namespace

bool smoke_flag() {
  const char* value = std::getenv("QIR_MEETING_LISTENER_SMOKE");
  if (!value) return false;
  std::string lowered(value);
  if (!is_valid_utf8(lowered)) return false;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lowered == "1" || lowered == "true" || lowered == "yes";
}

void handle_command(CommandOutcome& outcome, const Json& request, RuntimeState& state) {
  const auto id = usable_text(request, "id");
  if (!id) {
    outcome.response = response_error_without_id("invalid_request", "id is required");
    return;
  }
  const auto cmd = usable_text(request, "cmd");
  if (!cmd) {
    outcome.response = response_error(*id, "invalid_request", "cmd is required");
    return;
  }
  const bool smoke = smoke_flag();

  const std::string_view name = *cmd;
  if (name == "status") return handle_status(outcome, state, *id);
  if (name == "stop") return handle_stop(outcome, state, *id);
  if (name == "start" && smoke) return smoke_start(outcome, request, state, *id);
  if (name == "start") return real_start(outcome, request, state, *id);
  if (name == "ping") return void(outcome.response = response_ok(*id, listener_ping_payload(smoke)));
  if (name == "modelStatus") return void(outcome.response = response_ok(*id, model_status_payload(smoke)));
  if (name == "devices") return void(outcome.response = response_ok(*id, listener_devices_payload(smoke)));
  if (name == "enhance") return handle_enhance(outcome, request, state, *id);
  if (name == "transcribe") return handle_transcribe(outcome, request, state, *id);
  if (name == "detect" || name == "calendarStatus" || name == "calendarEvents" || name == "calendarRequestAccess")
    return handle_unavailable(outcome, *id);
  outcome.response = response_error(*id, "unknown_command", "Unknown meeting listener command.");
}

}  // namespace ombri
