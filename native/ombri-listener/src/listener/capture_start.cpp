#include "listener/capture_start.hpp"

#include "fixture/fixture.hpp"
#include "listener/readiness.hpp"
#include "protocol/request_args.hpp"
#include "protocol/timestamp.hpp"

namespace ombri {

std::string meeting_id_of(const Json& args) { return usable_text(args, "meetingId").value_or("meeting"); }

namespace {

Json fixture_capabilities() {
  return Json{
      {"micCapture", capability("ready", "Fixture WAV mode reads the supplied microphone WAV.")},
      {"systemAudioCapture", capability("ready", "Fixture WAV mode reads the supplied system WAV.")},
      {"localTranscription",
       capability("ready", "Fixture WAV mode emits deterministic transcript chunks from audio energy windows.")},
      {"fixtureInput", capability("ready", "Deterministic inputWav fixture mode is active.")}};
}

// Replays the two files; records nothing and touches nothing but the status.
void fixture_start(CommandOutcome& outcome, const Json& args, RuntimeState& state, const std::string& id,
                   const std::string& mic, const std::string& system) {
  const std::string meeting_id = meeting_id_of(args);
  const std::string started_at = timestamp_now();
  auto events = fixture_wav_events(mic, system, meeting_id);
  if (!events) {
    outcome.response = response_error(id, "input_wav_failed", events.error());
    return;
  }
  state.status = ListenerStatus{};
  outcome.response = response_ok(id, Json{{"sessionId", "fixture-" + meeting_id},
                                          {"startedAt", started_at},
                                          {"captureMic", true},
                                          {"captureSystemAudio", true},
                                          {"transcriptionReady", true},
                                          {"capabilities", fixture_capabilities()},
                                          {"audioPaths", {{"mic", mic}, {"system", system}}}});
  outcome.events = std::move(*events);
}

}  // namespace

void real_start(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id) {
  if (state.active_capture) {
    outcome.response =
        response_error(id, "capture_already_running", "A native meeting capture session is already running.");
    return;
  }

  const Json& args = request_args(request);
  if (const auto input_wav = args.find("inputWav"); input_wav != args.end()) {
    if (!input_wav->is_object()) {
      outcome.response =
          response_error(id, "invalid_request", "inputWav must be an object with mic and system WAV paths.");
      return;
    }
    const auto mic = usable_text(*input_wav, "mic");
    const auto system = usable_text(*input_wav, "system");
    if (mic && system) return fixture_start(outcome, args, state, id, *mic, *system);
    if (mic || system) {
      outcome.response = response_error(id, "invalid_request", "inputWav requires both mic and system WAV paths.");
      return;
    }
  }

  if (!state.event_sender) {
    outcome.response = response_error(id, "capture_unavailable", "Meeting listener event channel is unavailable.");
    return;
  }
  if (!usable_text(args, "meetingDir")) {
    outcome.response = response_error(id, "invalid_request", "meetingDir is required.");
    return;
  }
  outcome.response = response_error(id, "capture_unavailable", "Microphone capture is not available in this build.");
}

}  // namespace ombri
