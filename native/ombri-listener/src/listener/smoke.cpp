#include "listener/smoke.hpp"

#include <algorithm>
#include <cstdlib>

#include "base/utf8.hpp"
#include "listener/capture_start.hpp"
#include "listener/readiness.hpp"
#include "protocol/request_args.hpp"
#include "protocol/timestamp.hpp"

namespace ombri {

bool smoke_flag() {
  const char* value = std::getenv("QIR_MEETING_LISTENER_SMOKE");
  if (!value) return false;
  std::string lowered(value);
  if (!is_valid_utf8(lowered)) return false;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lowered == "1" || lowered == "true" || lowered == "yes";
}

void smoke_start(CommandOutcome& outcome, const Json& request, RuntimeState& state, const std::string& id) {
  const std::string meeting_id = meeting_id_of(request_args(request));
  const std::string started_at = timestamp_now();
  const std::string session_id = "smoke-" + meeting_id;

  state.status = ListenerStatus{"recording", session_id, started_at, std::nullopt};

  outcome.response = response_ok(id, Json{{"sessionId", session_id},
                                          {"startedAt", started_at},
                                          {"captureMic", true},
                                          {"captureSystemAudio", true},
                                          {"transcriptionReady", true},
                                          {"capabilities", listener_capabilities(true, true)}});

  auto transcript = [&](const char* channel, const char* speaker, const char* text, unsigned t0, unsigned t1) {
    return Json{{"type", "transcript"},
                {"sessionId", session_id},
                {"channel", channel},
                {"speaker", speaker},
                {"text", text},
                {"t0", t0},
                {"t1", t1},
                {"final", true}};
  };
  outcome.events = {
      status_event(state.status),
      Json{{"type", "level"}, {"sessionId", session_id}, {"mic", 0.42}, {"system", 0.36}, {"at", timestamp_now()}},
      transcript("mic", "You", "Smoke transcript from the native meeting listener.", 0, 3),
      transcript("system", "Speaker", "Smoke system audio segment from the native listener.", 3, 6),
  };
}

}  // namespace ombri
