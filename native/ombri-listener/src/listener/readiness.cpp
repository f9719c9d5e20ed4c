#include "listener/readiness.hpp"

#include "platform/audio_io.hpp"
#include "system_audio/support.hpp"

namespace ombri {
namespace {

// Read afresh every time: a microphone can come or go between two requests.
bool microphone_present() { return audio_io::default_input_device().has_value(); }

Json device(const char* id, const char* kind, const std::string& name) {
  return Json{{"id", id}, {"isDefault", true}, {"kind", kind}, {"name", name}};
}

}  // namespace

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

Json listener_ping_payload(bool smoke) {
  const bool mic = microphone_present();
  const char* reason = smoke  ? "Smoke listener mode is enabled."
                       : !mic ? "Native meeting capture is unavailable because no default microphone input device was "
                                "found."
                              : "Default microphone capture is available. Local transcription is not ready yet.";
  return Json{{"capabilities", listener_capabilities(smoke, mic)},
              {"captureReady", mic || smoke},
              {"ok", true},
              {"protocol", 1u},
              {"reason", reason},
              {"transcriptionReady", smoke},
              {"version", "0.1.0"}};
}

Json model_status_payload(bool smoke) {
  const bool mic = microphone_present();
  return Json{{"capabilities", listener_capabilities(smoke, mic)},
              {"downloading", false},
              {"localReady", smoke},
              {"model", smoke ? Json("smoke-transcript") : Json(nullptr)},
              {"progress", smoke ? 1u : 0u},
              {"reason", smoke ? "Smoke transcription is deterministic."
                               : "Local transcription is not wired yet; Ombri can run browser speech recognition as a "
                                 "transcript fallback."}};
}

Json listener_devices_payload(bool smoke) {
  if (smoke) {
    return Json{{"devices", Json::array({device("smoke-mic", "mic", "Smoke Microphone"),
                                         device("smoke-system", "system", "Smoke System Audio")})}};
  }
  if (const auto mic = audio_io::default_input_device()) {
    if (auto name = mic->name()) return Json{{"devices", Json::array({device("default-mic", "mic", *name)})}};
  }
  return Json{{"devices", Json::array()}, {"reason", "No default microphone input device was found."}};
}

}  // namespace ombri
