#pragma once
// Local transcription: one WAV file through a Whisper model with whisper.cpp.
// The model is loaded for every call and released before it returns.

#include <whisper.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "protocol/json.hpp"

namespace ombri {

// {"durationSeconds", "language", "segments": [{"end", "start", "text"}], "text"}
// or one error text. A blank language or prompt counts as none; a path
// holding a NUL character names no file. A multilingual model refuses a
// language that whisper.cpp does not know, once the model is loaded and the
// parameters are checked; an English-only model ignores the language.
Result<Json> transcribe_wav(const std::string& model_path, const std::string& audio_path,
                            const std::optional<std::string>& language, const std::optional<std::string>& prompt);

// The whisper.cpp settings of every transcription. The texts given stay
// owned by the caller and must outlive the run; one holding a NUL is refused.
whisper_context_params transcription_context_params();
Result<whisper_full_params> transcription_full_params(const std::optional<std::string>& language,
                                                      const std::optional<std::string>& prompt);

// One segment as whisper.cpp gives it: raw text bytes, times in 10 ms units.
struct WhisperSegment {
  std::string text;
  std::int64_t t0;
  std::int64_t t1;
};

// The result built from whisper.cpp's segments: texts made valid UTF-8 and
// trimmed, blank segments left out, times in seconds; an error when no
// segment has text.
Result<Json> transcription_result(const std::vector<WhisperSegment>& segments,
                                  const std::optional<std::string>& language, std::size_t buffer_samples);

}  // namespace ombri
