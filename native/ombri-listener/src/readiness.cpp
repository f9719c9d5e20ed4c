#include "readiness.hpp"

#include "system_audio/support.hpp"

namespace ombri {

Json capability(const std::string& status, const std::optional<std::string>& reason) {
  return Json{{"status", status}, {"reason", optional_text(reason)}};
}

Json listener_capabilities(bool smoke, bool mic) {
  Json capabilities{{"fixtureInput", capability("ready", "Deterministic inputWav fixture mode is available for QA.")}};
  if (smoke) {
    capabilities["localTranscription"] = capability("ready", "Smoke transcription is deterministic.");
    capabilities["micCapture"] = capability("ready", std::nullopt);
    capabilities["systemAudioCapture"] =
        capability("ready", "Smoke listener mode provides deterministic system-audio events.");
    return capabilities;
  }
  capabilities["localTranscription"] =
      capability("unavailable",
                 "Local Whisper transcription is not wired yet; Ombri can use browser speech recognition or cloud "
                 "transcription fallback.");
  capabilities["micCapture"] = mic ? capability("ready", std::nullopt)
                                   : capability("unavailable", "No default microphone input device was found.");
  const Result<void>& support = system_audio_support();
  capabilities["systemAudioCapture"] =
      support ? capability("ready",
                           "Captures other apps' audio through a private system tap. macOS asks for permission on "
                           "first use.")
              : capability("unavailable", support.error());
  return capabilities;
}

}  // namespace ombri
