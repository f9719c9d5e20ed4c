#include "listener/capture_start.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/make_directories.hpp"
#include "base/path.hpp"
#include "base/path_status.hpp"
#include "fixture/fixture.hpp"
#include "listener/mic_stream.hpp"
#include "listener/readiness.hpp"
#include "protocol/request_args.hpp"
#include "protocol/timestamp.hpp"
#include "system_audio/device_queries.hpp"

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

// A fixture file of a request must not be one that could block or reach a
// device: a FIFO would block the main thread, and every request after it, and
// /dev/stdin would read the listener's own requests. Anything else, a
// directory or a missing file too, is left to the open, which answers with the
// system's text. The command line reads whatever it is given.
Result<void> check_fixture_file(const std::string& path) {
  const auto status = path_status(path);
  if (!status) return ErrorText{"Failed to open WAV " + path + ": " + status.error()};
  if (*status && is_special_file(**status)) return ErrorText{"Failed to open WAV " + path + ": Not a regular file"};
  return {};
}

// Replays the two files; records nothing and touches nothing but the status.
void fixture_start(CommandOutcome& outcome, const Json& args, RuntimeState& state, const std::string& id,
                   const std::string& mic, const std::string& system) {
  const std::string meeting_id = meeting_id_of(args);
  const std::string started_at = timestamp_now();
  auto events = fixture_wav_events(mic, system, meeting_id, check_fixture_file);
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

// A Bluetooth headset records in its low-quality call mode; a built-in
// microphone of the same machine keeps the headset's playback clean.
std::optional<audio_io::Device> builtin_instead_of_bluetooth() {
  if (!default_input_is_bluetooth()) return std::nullopt;
  const std::vector<std::string> builtin = builtin_device_names();
  auto devices = audio_io::input_devices();
  if (!devices) return std::nullopt;
  for (const audio_io::Device& device : *devices) {
    const auto name = device.name();
    if (!name || std::find(builtin.begin(), builtin.end(), *name) == builtin.end()) continue;
    const std::string notice = fmt::format(
        "ombri-listener: default input is Bluetooth; capturing mic from '{}' to keep the headset in high-quality "
        "playback mode\n",
        *name);
    (void)std::fwrite(notice.data(), 1, notice.size(), stderr);
    return device;
  }
  return std::nullopt;
}

// The microphone half of a running capture.
struct MicCapture {
  std::string path;
  SharedWavWriter writer;
  std::optional<audio_io::Stream> stream;  // destroyed before the writer
};

// Creates the meeting directory and records the chosen microphone into its
// "audio-mic.wav". On failure everything made so far is released, the stream
// before the writer, so a created file keeps a complete header.
Result<MicCapture> start_microphone(const std::string& meeting_dir, const std::shared_ptr<LevelHub>& levels) {
  if (auto made = make_directories(meeting_dir); !made)
    return ErrorText{fmt::format("Failed to create meeting audio directory {}: {}", meeting_dir, made.error())};

  auto device = builtin_instead_of_bluetooth();
  if (!device) device = audio_io::default_input_device();
  if (!device) return ErrorText{"No default microphone input device found."};

  const auto config = device->default_input_config();
  if (!config) return ErrorText{fmt::format("Failed to read default mic input config: {}", config.error())};

  MicCapture mic{join_path(meeting_dir, "audio-mic.wav"), nullptr, std::nullopt};
  auto writer = WavWriter::create(mic.path, config->channels, config->sample_rate);
  if (!writer) return ErrorText{fmt::format("Failed to create mic WAV {}: {}", mic.path, writer.error())};
  mic.writer = share_wav_writer(std::move(*writer));

  auto stream = build_mic_stream(*device, *config, mic.writer, levels);
  if (!stream) return ErrorText{stream.error()};
  mic.stream.emplace(std::move(*stream));
  if (auto playing = mic.stream->play(); !playing)
    return ErrorText{fmt::format("Failed to start mic capture stream: {}", playing.error())};
  return mic;
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
  const auto meeting_dir = usable_text(args, "meetingDir");
  if (!meeting_dir) {
    outcome.response = response_error(id, "invalid_request", "meetingDir is required.");
    return;
  }
  const std::string session_id = "mic-" + meeting_id_of(args);
  auto levels = std::make_shared<LevelHub>(*state.event_sender, session_id);
  const bool capture_system = boolean_member(args, "captureSystemAudio").value_or(true);
  const bool stream_system = boolean_member(args, "streamSystemAudio").value_or(false);

  auto mic = start_microphone(*meeting_dir, levels);
  if (!mic) {
    state.status = ListenerStatus{"error", std::nullopt, std::nullopt, mic.error()};
    outcome.response = response_error(id, "capture_unavailable", mic.error());
    return;
  }

  std::optional<SystemAudioCapture> system;
  std::optional<std::string> system_reason;
  if (!capture_system) {
    system_reason = "System audio capture was turned off for this session.";
  } else {
    std::optional<StreamSink> sink;
    if (stream_system) sink = StreamSink{*state.event_sender, session_id};
    auto started = SystemAudioCapture::start(*meeting_dir, std::move(levels), std::move(sink));
    if (started) {
      started->spawn_permission_probe(session_id, *state.event_sender, started->stop_flag);
      system.emplace(std::move(*started));
    } else {
      system_reason = started.error();
    }
  }
  levels.reset();

  const std::string started_at = timestamp_now();
  Json capabilities = listener_capabilities(false, true);
  if (system_reason) capabilities["systemAudioCapture"] = capability("unavailable", system_reason);
  const std::optional<std::string> system_path = system ? std::optional(system->path) : std::nullopt;

  state.status = ListenerStatus{"recording", session_id, started_at, std::nullopt};
  state.active_capture = ActiveCapture{.session_id = session_id,
                                       .mic_path = mic->path,
                                       .system_path = system_path,
                                       .system_capture = std::move(system),
                                       .mic_writer = std::move(mic->writer),
                                       .mic_stream = std::move(mic->stream)};
  outcome.response =
      response_ok(id, Json{{"sessionId", session_id},
                           {"startedAt", started_at},
                           {"captureMic", true},
                           {"captureSystemAudio", system_path.has_value()},
                           {"systemAudioReason", optional_text(system_reason)},
                           {"transcriptionReady", false},
                           {"capabilities", std::move(capabilities)},
                           {"audioPaths", {{"mic", mic->path}, {"system", optional_text(system_path)}}}});
  outcome.events.push_back(status_event(state.status));
}

}  // namespace ombri
