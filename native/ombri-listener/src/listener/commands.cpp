#include "listener/commands.hpp"

#include <string_view>

#include "listener/calendar_commands.hpp"
#include "listener/capture_start.hpp"
#include "listener/device_commands.hpp"
#include "listener/processing_commands.hpp"
#include "listener/readiness.hpp"
#include "listener/smoke.hpp"
#include "protocol/request_args.hpp"
#include "protocol/timestamp.hpp"

namespace ombri {
namespace {

// Every command's handling gets the same arguments; `smoke` is the smoke flag
// of this request.
using CommandHandler = void (*)(CommandOutcome& outcome, const Json& request, RuntimeState& state,
                                const std::string& id, bool smoke);

void handle_status(CommandOutcome& outcome, const Json&, RuntimeState& state, const std::string& id, bool) {
  outcome.response = response_ok(id, state.status.to_json());
}

void handle_stop(CommandOutcome& outcome, const Json&, RuntimeState& state, const std::string& id, bool) {
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

void handle_start(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id,
                  bool smoke) {
  if (smoke) return smoke_start(outcome, request, state, id);
  real_start(outcome, request, state, id);
}

// A command whose result is a payload of the smoke flag alone.
template <Json (*Payload)(bool)>
void answer_with(CommandOutcome& outcome, const Json&, RuntimeState&, const std::string& id, bool smoke) {
  outcome.response = response_ok(id, Payload(smoke));
}

// A command to which the smoke flag means nothing.
template <auto Handle>
void ignoring_smoke(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id, bool) {
  Handle(outcome, request, state, id);
}

struct Command {
  std::string_view name;
  CommandHandler handle;
};

constexpr Command kCommands[] = {
    {"ping", answer_with<listener_ping_payload>},
    {"status", handle_status},
    {"start", handle_start},
    {"stop", handle_stop},
    {"detect", ignoring_smoke<handle_detect>},
    {"devices", answer_with<listener_devices_payload>},
    {"enhance", ignoring_smoke<handle_enhance>},
    {"transcribe", ignoring_smoke<handle_transcribe>},
    {"modelStatus", answer_with<model_status_payload>},
    {"calendarStatus", ignoring_smoke<handle_calendar_status>},
    {"calendarEvents", ignoring_smoke<handle_calendar_events>},
    {"calendarRequestAccess", ignoring_smoke<handle_calendar_request_access>},
};

}  // namespace

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
  // Untrimmed and case-sensitive: " ping" and "Ping" name no command.
  for (const Command& command : kCommands)
    if (command.name == *cmd) return command.handle(outcome, request, state, *id, smoke);
  outcome.response = response_error(*id, "unknown_command", "Unknown meeting listener command.");
}

}  // namespace ombri
