#include "processing.hpp"

#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "enhance.hpp"
#include "transcribe.hpp"

namespace ombri {
namespace {

struct EnhanceJob {
  std::string id;
  std::string input;
  std::string output;
};

struct TranscribeJob {
  std::string id;
  std::string model_path;
  std::string audio_path;
  std::optional<std::string> language;
  std::optional<std::string> prompt;
};

Json run_enhance(const EnhanceJob& job) {
  auto summary = enhance_wav(job.input, job.output);
  if (!summary) return response_error(job.id, "enhance_failed", summary.error());
  return response_ok(job.id, Json{{"output", summary->output},
                                  {"inputSeconds", summary->input_seconds},
                                  {"frames", summary->frames},
                                  {"vadMean", summary->vad_mean}});
}

Json run_transcribe(const TranscribeJob& job) {
  auto result = transcribe_wav(job.model_path, job.audio_path, job.language, job.prompt);
  if (!result) return response_error(job.id, "transcription_failed", result.error());
  return response_ok(job.id, std::move(*result));
}

// On a worker of its own when the state has a sender: the outcome stays
// empty and the answer comes through the channel. Without one, inline.
template <class Job, class Run>
void dispatch(CommandOutcome& outcome, const RuntimeState& state, Job job, Run run) {
  if (!state.event_sender) {
    outcome.response = run(job);
    return;
  }
  std::thread([sender = *state.event_sender, job = std::move(job), run] { sender.send(run(job)); }).detach();
}

const Json* args_member(const Json& request, const char* key) {
  const auto args = request.find("args");
  if (args == request.end() || !args->is_object()) return nullptr;
  const auto member = args->find(key);
  return member == args->end() ? nullptr : &*member;
}

std::optional<std::string> string_member(const Json& request, const char* key) {
  const Json* member = args_member(request, key);
  if (!member || !member->is_string()) return std::nullopt;
  return member->get<std::string>();
}

}  // namespace

void handle_enhance(CommandOutcome& outcome, const Json& request, const RuntimeState& state, const std::string& id) {
  const std::string input = string_member(request, "input").value_or("");
  if (input.empty()) {
    outcome.response = response_error(id, "invalid_request", "enhance requires args.input (path to a WAV file).");
    return;
  }
  auto output = string_member(request, "output");
  dispatch(outcome, state, EnhanceJob{id, input, output ? std::move(*output) : default_output_path(input)},
           run_enhance);
}

void handle_transcribe(CommandOutcome& outcome, const Json& request, const RuntimeState& state, const std::string& id) {
  auto model_path = string_member(request, "modelPath");
  auto audio_path = string_member(request, "audioPath");
  if (!model_path || !audio_path) {
    outcome.response = response_error(id, "invalid_request", "transcribe requires args.modelPath and args.audioPath.");
    return;
  }
  dispatch(outcome, state,
           TranscribeJob{id, std::move(*model_path), std::move(*audio_path), string_member(request, "language"),
                         string_member(request, "prompt")},
           run_transcribe);
}

}  // namespace ombri
