#include "listener/processing_commands.hpp"

#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "base/give_back_memory.hpp"
#include "base/os_error.hpp"
#include "processing/enhance.hpp"
#include "processing/transcribe.hpp"
#include "protocol/request_args.hpp"

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
  // A worker must not end the process on an allocation it cannot make.
  try {
    auto summary = enhance_wav(job.input, job.output);
    if (!summary) return response_error(job.id, "enhance_failed", summary.error());
    return response_ok(job.id, Json{{"output", summary->output},
                                    {"inputSeconds", summary->input_seconds},
                                    {"frames", summary->frames},
                                    {"vadMean", summary->vad_mean}});
  } catch (const std::bad_alloc&) {
    return response_error(job.id, "enhance_failed", kOutOfMemory);
  }
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
  std::thread([sender = *state.event_sender, job = std::move(job), run] {
    sender.send(run(job));
    // The allocator would keep what the work freed resident in the idle
    // listener. After the answer, so that the request does not wait for it.
    give_back_freed_memory();
  }).detach();
}

}  // namespace

void handle_enhance(CommandOutcome& outcome, const Json& request, const RuntimeState& state, const std::string& id) {
  const std::string input = any_string_arg(request, "input").value_or("");
  if (input.empty()) {
    outcome.response = response_error(id, "invalid_request", "enhance requires args.input (path to a WAV file).");
    return;
  }
  auto output = any_string_arg(request, "output");
  dispatch(outcome, state, EnhanceJob{id, input, output ? std::move(*output) : default_output_path(input)},
           run_enhance);
}

void handle_transcribe(CommandOutcome& outcome, const Json& request, const RuntimeState& state, const std::string& id) {
  auto model_path = any_string_arg(request, "modelPath");
  auto audio_path = any_string_arg(request, "audioPath");
  if (!model_path || !audio_path) {
    outcome.response = response_error(id, "invalid_request", "transcribe requires args.modelPath and args.audioPath.");
    return;
  }
  dispatch(outcome, state,
           TranscribeJob{id, std::move(*model_path), std::move(*audio_path), any_string_arg(request, "language"),
                         any_string_arg(request, "prompt")},
           run_transcribe);
}

}  // namespace ombri
