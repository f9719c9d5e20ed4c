#include "processing/transcribe.hpp"

#include <sys/stat.h>
#include <whisper.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string_view>
#include <thread>

#include "base/path_status.hpp"
#include "base/utf8.hpp"
#include "processing/transcribe_audio.hpp"

namespace ombri {
namespace {

static_assert(kMaxTranscriptionSamples <= 2147483647, "whisper.cpp counts samples in a signed 32-bit int");

constexpr const char* kNoContext = "Failed to create a new whisper context.";

// Any error while asking counts as no, a path holding a NUL too: it names
// no file the system could be asked about.
bool is_regular_file(const std::string& path) {
  const auto status = path_status(path);
  return status && *status && S_ISREG((*status)->st_mode);
}

// A multilingual model decodes in the language it is given, which whisper.cpp
// looks up in its own table (codes and full names; "auto" detects it): an
// unknown one would decode with a wrong token. An English-only model ignores
// the language. Called once the parameters have passed their own checks.
Result<void> check_language(whisper_context* context, const char* language) {
  if (!language || !whisper_is_multilingual(context) || std::string_view(language) == "auto") return {};
  if (whisper_lang_id(language) < 0)
    return ErrorText{std::string("Whisper does not know the language \"") + language + "\"."};
  return {};
}

int computation_threads() {
  const unsigned logical = std::thread::hardware_concurrency();
  return logical == 0 ? 4 : static_cast<int>(std::min(logical, 8u));
}

std::string full_failure_text(int code) {
  switch (code) {
    case -1:
      return "Failed to calculate the spectrogram for some reason.";
    case 7:
      return "Failed to run the encoder.";
    case 8:
      return "Failed to run the decoder.";
    default:
      return "Generic whisper error. Varies depending on the function. Error code: " + std::to_string(code);
  }
}

}  // namespace

whisper_context_params transcription_context_params() {
  whisper_context_params params = whisper_context_default_params();
  params.use_gpu = false;
  params.flash_attn = false;
  params.gpu_device = 0;
  params.dtw_token_timestamps = false;
  params.dtw_aheads_preset = WHISPER_AHEADS_NONE;
  params.dtw_n_top = -1;
  params.dtw_aheads = {0, nullptr};
  params.dtw_mem_size = 128u * 1024 * 1024;
  return params;
}

Result<whisper_full_params> transcription_full_params(const std::optional<std::string>& language,
                                                      const std::optional<std::string>& prompt) {
  whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
  params.strategy = WHISPER_SAMPLING_GREEDY;
  params.greedy.best_of = 1;
  params.n_threads = computation_threads();
  params.translate = false;
  params.print_special = false;
  params.print_progress = false;
  params.print_realtime = false;
  params.print_timestamps = false;
  params.suppress_blank = true;
  params.suppress_nst = true;
  params.detect_language = false;
  params.language = nullptr;  // null: whisper.cpp detects the spoken language
  params.initial_prompt = nullptr;
  if (language && !is_blank(*language)) {
    if (language->find('\0') != std::string::npos) return ErrorText{"Language contains null byte"};
    params.language = language->c_str();
  }
  if (prompt && !is_blank(*prompt)) {
    if (prompt->find('\0') != std::string::npos) return ErrorText{"Initial prompt contains null byte"};
    params.initial_prompt = prompt->c_str();
  }
  return params;
}

namespace {

// A decoding state together with the context it belongs to: the state is
// freed first, the context when its last holder lets go.
struct WhisperRun {
  std::shared_ptr<whisper_context> context;
  std::unique_ptr<whisper_state, decltype(&whisper_free_state)> state{nullptr, &whisper_free_state};
};

Result<WhisperRun> start_whisper(const std::string& model_path) {
  whisper_context* raw =
      whisper_init_from_file_with_params_no_state(model_path.c_str(), transcription_context_params());
  if (!raw) return ErrorText{std::string("Could not load the Whisper model: ") + kNoContext};
  WhisperRun run;
  run.context = std::shared_ptr<whisper_context>(raw, &whisper_free);
  run.state.reset(whisper_init_state(raw));
  if (!run.state) return ErrorText{std::string("Could not initialize Whisper: ") + kNoContext};
  return run;
}

Result<Json> run_whisper(const std::string& model_path, const std::vector<float>& buffer,
                         const std::optional<std::string>& language, const std::optional<std::string>& prompt) {
  auto run = start_whisper(model_path);
  if (!run) return ErrorText{run.error()};
  whisper_context* context = run->context.get();
  whisper_state* state = run->state.get();
  auto params = transcription_full_params(language, prompt);
  if (!params) return ErrorText{params.error()};
  if (auto known = check_language(context, params->language); !known) return ErrorText{known.error()};

  const int code = whisper_full_with_state(context, state, *params, buffer.data(), static_cast<int>(buffer.size()));
  if (code != 0) return ErrorText{"Whisper transcription failed: " + full_failure_text(code)};

  std::vector<WhisperSegment> segments;
  const int count = whisper_full_n_segments_from_state(state);
  for (int i = 0; i < count; ++i) {
    const char* text = whisper_full_get_segment_text_from_state(state, i);
    segments.push_back({text ? text : "", whisper_full_get_segment_t0_from_state(state, i),
                        whisper_full_get_segment_t1_from_state(state, i)});
  }

  std::optional<std::string> detected;
  if (const int id = whisper_full_lang_id_from_state(state); id >= 0) {
    const char* code_text = whisper_lang_str(id);
    if (code_text && *code_text) detected = code_text;
  }
  return transcription_result(segments, detected, buffer.size());
}

}  // namespace

Result<Json> transcription_result(const std::vector<WhisperSegment>& segments,
                                  const std::optional<std::string>& language, std::size_t buffer_samples) {
  Json kept = Json::array();
  std::string joined;
  for (const auto& segment : segments) {
    const std::string valid = to_utf8_lossy(segment.text);
    const std::string_view text = trim_unicode_whitespace(valid);
    if (text.empty()) continue;
    kept.push_back(Json{{"text", text},
                        {"start", static_cast<double>(segment.t0) / 100.0},
                        {"end", static_cast<double>(segment.t1) / 100.0}});
    if (!joined.empty()) joined.push_back(' ');
    joined.append(text);
  }
  if (joined.empty()) return ErrorText{"Whisper did not detect any speech in this audio."};
  return Json{{"text", joined},
              {"language", optional_text(language)},
              {"durationSeconds", static_cast<double>(buffer_samples) / 16000.0},
              {"segments", std::move(kept)}};
}

Result<Json> transcribe_wav(const std::string& model_path, const std::string& audio_path,
                            const std::optional<std::string>& language, const std::optional<std::string>& prompt) {
  if (!is_regular_file(model_path)) return ErrorText{"The selected Whisper model is not installed."};
  if (!is_regular_file(audio_path)) return ErrorText{"The transcription audio file was not found."};
  // A worker thread must not end the process on a buffer the machine cannot hold.
  try {
    auto buffer = read_wav_mono_16k(audio_path);
    if (!buffer) return ErrorText{buffer.error()};
    if (buffer->empty()) return ErrorText{"Cannot transcribe an empty audio file."};
    zero_unusable_samples(*buffer);
    return run_whisper(model_path, *buffer, language, prompt);
  } catch (const std::bad_alloc&) {
    return ErrorText{"There is not enough memory to transcribe this audio."};
  }
}

}  // namespace ombri
