#include "fixture.hpp"

#include <fmt/format.h>

#include "protocol.hpp"
#include "text.hpp"

namespace ombri {
namespace {

constexpr const char* kUsage = "Usage: ombri-listener --input-wav <mic.wav> <system.wav> [--meeting-id <id>]";

}  // namespace

std::string fixture_transcript(std::string_view channel, const WavChunk& chunk, std::uint64_t index,
                               std::uint64_t total) {
  const char* source = channel == "mic" ? "microphone" : "system";
  // fmt writes the decimal nearest to the exact binary value, ties to even.
  return fmt::format("Fixture {} audio chunk {}/{} captured from {:.1f}s to {:.1f}s ({:.1f}s, peak {:.3f}).", source,
                     index, total, chunk.start_time, chunk.end_time, chunk.end_time - chunk.start_time,
                     static_cast<double>(chunk.peak));
}

std::vector<Json> fixture_transcript_events(const std::string& session_id, std::string_view channel,
                                            std::string_view speaker, const std::vector<WavChunk>& chunks) {
  std::vector<Json> events;
  events.reserve(chunks.size());
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const WavChunk& chunk = chunks[i];
    events.push_back(Json{{"type", "transcript"},
                          {"sessionId", session_id},
                          {"channel", channel},
                          {"speaker", speaker},
                          {"text", fixture_transcript(channel, chunk, i + 1, chunks.size())},
                          {"t0", chunk.start_time},
                          {"t1", chunk.end_time},
                          {"final", true},
                          {"rms", chunk.rms},
                          {"peak", static_cast<double>(chunk.peak)}});
  }
  return events;
}

Result<std::vector<Json>> fixture_wav_events(const std::string& mic_wav, const std::string& system_wav,
                                             const std::string& meeting_id) {
  auto mic = probe_wav(mic_wav);
  if (!mic) return ErrorText{mic.error()};
  auto system = probe_wav(system_wav);
  if (!system) return ErrorText{system.error()};

  const std::string session_id = "fixture-" + meeting_id;
  // Both times are taken before any event is built.
  const std::string started_at = timestamp_now();
  const std::string completed_at = timestamp_now();

  std::vector<Json> events;
  events.push_back(Json{{"type", "status"},
                        {"status", {{"state", "recording"}, {"sessionId", session_id}, {"startedAt", started_at}}}});
  events.push_back(Json{{"type", "level"},
                        {"sessionId", session_id},
                        {"mic", static_cast<double>(mic->peak)},
                        {"system", static_cast<double>(system->peak)},
                        {"at", timestamp_now()}});
  for (auto& event : fixture_transcript_events(session_id, "mic", "You", mic->chunks))
    events.push_back(std::move(event));
  for (auto& event : fixture_transcript_events(session_id, "system", "Speaker", system->chunks))
    events.push_back(std::move(event));
  events.push_back(Json{
      {"type", "status"},
      {"status", {{"state", "idle"}, {"reason", fmt::format("Fixture WAV mode completed at {}.", completed_at)}}}});
  return events;
}

Result<void> run_input_wav_mode(const std::vector<std::string>& args) {
  if (args.size() < 3) return ErrorText{kUsage};
  std::string meeting_id = "fixture";
  for (std::size_t i = 3; i < args.size(); i += 2) {
    if (args[i] != "--meeting-id") return ErrorText{"Unknown --input-wav option: " + args[i]};
    // An id that is not UTF-8 could not be written into the JSON lines.
    if (i + 1 >= args.size() || !is_valid_utf8(args[i + 1]) || is_blank(args[i + 1]))
      return ErrorText{"--meeting-id requires a non-empty value in --input-wav mode."};
    meeting_id = args[i + 1];
  }

  const SharedStdout out = make_shared_stdout();
  auto events = fixture_wav_events(args[1], args[2], meeting_id);
  if (!events) return ErrorText{events.error()};
  for (const Json& event : *events) {
    if (auto written = write_response(out, event); !written) return written;
  }
  return {};
}

}  // namespace ombri
