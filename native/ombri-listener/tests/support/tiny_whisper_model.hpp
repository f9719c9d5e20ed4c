#pragma once
// The tiny Whisper models of the tests and benchmarks, made by
// tools/make_tiny_whisper_model.py once per build tree and shared by every
// test process (the tool renames a finished file into place).

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace ombri::test {

// words: a multilingual model that decodes one known segment; blank: the
// same with white-space tokens; english_only: the same segment from an
// English-only vocabulary.
enum class TinyVocabulary { words, blank, english_only };

inline std::string tiny_whisper_model(TinyVocabulary vocabulary = TinyVocabulary::words) {
  const std::string tool = std::string(OMBRI_TEST_TOOLS_DIR) + "/make_tiny_whisper_model.py";
  const char* name = "/tiny-whisper.bin";
  const char* flag = "";
  if (vocabulary == TinyVocabulary::blank) {
    name = "/tiny-whisper-blank.bin";
    flag = " --blank-vocab";
  } else if (vocabulary == TinyVocabulary::english_only) {
    name = "/tiny-whisper-en.bin";
    flag = " --english-only";
  }
  const std::string model = std::string(OMBRI_TEST_CACHE_DIR) + name;

  struct stat model_info {
  }, tool_info{};
  const bool fresh = ::stat(model.c_str(), &model_info) == 0 && ::stat(tool.c_str(), &tool_info) == 0 &&
                     model_info.st_mtime >= tool_info.st_mtime;
  if (!fresh) {
    const std::string command = std::string(OMBRI_PYTHON) + " '" + tool + "' '" + model + "'" + flag;
    if (std::system(command.c_str()) != 0) throw std::runtime_error("could not generate " + model);
  }
  return model;
}

}  // namespace ombri::test
