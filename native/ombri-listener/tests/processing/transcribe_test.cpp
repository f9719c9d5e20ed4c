#include "processing/transcribe.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "processing/transcribe_audio.hpp"
#include "sample_bytes.hpp"
#include "test_support.hpp"
#include "tiny_whisper_model.hpp"
#include "wav_test_files.hpp"

namespace ombri {
namespace {

using test::hand_wav_file;
using test::le16;
using test::read_with_sndfile;
using test::sox_wav;
using test::TempDir;
using test::tiny_whisper_model;
using test::TinyVocabulary;

TEST(TranscriptionResult, KeepsTrimmedTextSegmentsInSeconds) {
  auto result = transcription_result(
      {{" Hello", 0, 150}, {" \t ", 150, 200}, {"world. ", 200, 351}, {"bad \xff byte", -5, 360000}}, "en", 56000);
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(to_json_text(*result),
            "{\"durationSeconds\":3.5,\"language\":\"en\",\"segments\":["
            "{\"end\":1.5,\"start\":0.0,\"text\":\"Hello\"},"
            "{\"end\":3.51,\"start\":2.0,\"text\":\"world.\"},"
            "{\"end\":3600.0,\"start\":-0.05,\"text\":\"bad \xEF\xBF\xBD byte\"}],"
            "\"text\":\"Hello world. bad \xEF\xBF\xBD byte\"}");

  auto without_language = transcription_result({{"x", 0, 1}}, std::nullopt, 1);
  ASSERT_TRUE(without_language);
  EXPECT_TRUE((*without_language)["language"].is_null());

  auto blank = transcription_result({{"  ", 0, 100}, {"\xe3\x80\x80", 100, 200}}, "en", 16000);
  ASSERT_FALSE(blank);
  EXPECT_EQ(blank.error(), "Whisper did not detect any speech in this audio.");
}

// 2.75 s of speech from espeak-ng at its own rate (22050 Hz): 44000 samples
// at 16 kHz, the length for which the tiny model's decoding is known.
std::string speech_wav(const TempDir& dir) {
  const auto spoken = dir.file("spoken.wav");
  const auto path = dir.file("speech.wav");
  EXPECT_EQ(std::system(("espeak-ng -w " + spoken + " 'Hello there, this is the weekly planning meeting.'").c_str()),
            0);
  EXPECT_EQ(std::system(("sox " + spoken + " " + path + " pad 0 1 trim 0 60638s").c_str()), 0);
  return path;
}

TEST(TranscribeWav, RunsWhisperOnTheTinyModel) {
  TempDir dir;
  const auto audio = speech_wav(dir);
  const auto source = read_with_sndfile(audio);
  ASSERT_EQ(source.rate, 22050);
  ASSERT_EQ(resampled_length(source.samples.size(), 22050), 44000u);

  // The tiny model detects German and emits token 1000 between the
  // timestamps 0.50 s and 2.70 s (see tools/make_tiny_whisper_model.py).
  auto result = transcribe_wav(tiny_whisper_model(), audio, std::nullopt, "  ");
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(to_json_text(*result),
            "{\"durationSeconds\":2.75,\"language\":\"de\","
            "\"segments\":[{\"end\":2.7,\"start\":0.5,\"text\":\"w1000\"}],\"text\":\"w1000\"}");
}

TEST(TranscribeWav, TheGivenLanguageGoesToWhisperUntrimmed) {
  TempDir dir;
  const auto audio = speech_wav(dir);
  auto french = transcribe_wav(tiny_whisper_model(), audio, "fr", "Planning meeting.");
  ASSERT_TRUE(french) << french.error();
  EXPECT_EQ((*french)["language"], "fr");
  EXPECT_EQ((*french)["text"], "w1000");
  // "auto" asks whisper.cpp to detect the language.
  auto detected = transcribe_wav(tiny_whisper_model(), audio, "auto", std::nullopt);
  ASSERT_TRUE(detected) << detected.error();
  EXPECT_EQ((*detected)["language"], "de");
}

// A language missing from whisper.cpp's table, blanks included, would make a
// multilingual model decode with a wrong token; an English-only model has no
// language token and ignores it.
TEST(TranscribeWav, OnlyAMultilingualModelRefusesALanguageWhisperDoesNotKnow) {
  TempDir dir;
  const auto audio = speech_wav(dir);
  for (const std::string language : {" fr ", " en", "xx", "EN", "en-US"}) {
    SCOPED_TRACE(language);
    auto refused = transcribe_wav(tiny_whisper_model(), audio, language, std::nullopt);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "Whisper does not know the language \"" + language + "\".");

    auto english = transcribe_wav(tiny_whisper_model(TinyVocabulary::english_only), audio, language, std::nullopt);
    ASSERT_TRUE(english) << english.error();
    EXPECT_EQ(to_json_text(*english),
              "{\"durationSeconds\":2.75,\"language\":\"en\","
              "\"segments\":[{\"end\":2.7,\"start\":0.5,\"text\":\"w1000\"}],\"text\":\"w1000\"}");
  }
}

// Not-a-number, infinite or absurdly large samples in a float file would
// keep whisper.cpp decoding for many minutes; as zeros they decode like the
// rest of the audio.
TEST(TranscribeWav, UnusableFloatSamplesDecodeAsSilence) {
  TempDir dir;
  std::vector<float> samples(44000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = 0.25f * std::sin(static_cast<float>(i) * 0.05f);
  const float inf = std::numeric_limits<float>::infinity();
  samples[1000] = std::nanf("");
  samples[15000] = inf;
  samples[30000] = -inf;
  samples[40000] = 1e30f;
  const auto audio =
      hand_wav_file(dir, "f32.wav", {.format_tag = 3, .sample_rate = 16000, .block_align = 4, .bits = 32},
                    test::float_bytes(samples));
  auto result = transcribe_wav(tiny_whisper_model(), audio, std::nullopt, std::nullopt);
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(to_json_text(*result),
            "{\"durationSeconds\":2.75,\"language\":\"de\","
            "\"segments\":[{\"end\":2.7,\"start\":0.5,\"text\":\"w1000\"}],\"text\":\"w1000\"}");
}

TEST(TranscribeWav, BlankSegmentsAreNoSpeech) {
  TempDir dir;
  auto result = transcribe_wav(tiny_whisper_model(TinyVocabulary::blank), speech_wav(dir), std::nullopt, std::nullopt);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Whisper did not detect any speech in this audio.");
}

TEST(TranscribeWav, Errors) {
  TempDir dir;
  const auto model = tiny_whisper_model();
  const auto audio = sox_wav(dir, "short.wav", "signed-integer", 16, 1, 16000, le16(std::vector<int>(16000, 100)));
  const auto cut = hand_wav_file(dir, "cut.wav", {.announced_data_bytes = 2000}, le16({1, 2, 3}));
  const auto empty = sox_wav(dir, "empty.wav", "signed-integer", 16, 1, 16000, {});
  const auto blip = sox_wav(dir, "blip.wav", "signed-integer", 16, 1, 16000, le16(std::vector<int>(1000, 3000)));
  const std::string nul_text("e\0n", 3);
  const struct {
    const char* name;
    std::string model;
    std::string audio;
    std::optional<std::string> language;
    std::optional<std::string> prompt;
    std::string error;
  } cases[] = {
      {"missing model", dir.file("none.bin"), audio, {}, {}, "The selected Whisper model is not installed."},
      {"empty model path", "", audio, {}, {}, "The selected Whisper model is not installed."},
      {"directory as model", dir.file(""), audio, {}, {}, "The selected Whisper model is not installed."},
      {"NUL in the model path",
       model + std::string(1, '\0'),
       audio,
       {},
       {},
       "The selected Whisper model is not installed."},
      {"not a model",
       audio,
       audio,
       {},
       {},
       "Could not load the Whisper model: Failed to create a new whisper context."},
      {"missing audio", model, dir.file("none.wav"), {}, {}, "The transcription audio file was not found."},
      {"directory as audio", model, dir.file(""), {}, {}, "The transcription audio file was not found."},
      {"NUL in the audio path",
       model,
       audio + std::string(1, '\0') + "x",
       {},
       {},
       "The transcription audio file was not found."},
      {"empty audio", model, empty, {}, {}, "Cannot transcribe an empty audio file."},
      {"truncated audio", model, cut, {}, {}, "Failed to read enough bytes."},
      {"NUL in the language", model, audio, nul_text, {}, "Language contains null byte"},
      {"NUL in the prompt", model, audio, "en", nul_text, "Initial prompt contains null byte"},
      // An unknown language is judged by the model, after everything above.
      {"unknown language, missing audio",
       model,
       dir.file("none.wav"),
       " en",
       {},
       "The transcription audio file was not found."},
      {"unknown language, empty audio", model, empty, "xx", {}, "Cannot transcribe an empty audio file."},
      {"unknown language, not a model",
       audio,
       audio,
       " en",
       {},
       "Could not load the Whisper model: Failed to create a new whisper context."},
      {"unknown language, NUL in the prompt", model, audio, "xx", nul_text, "Initial prompt contains null byte"},
      {"unknown language", model, audio, "xx", {}, "Whisper does not know the language \"xx\"."},
      {"under 0.1 s with a language", model, blip, "en", {}, "Whisper did not detect any speech in this audio."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto result = transcribe_wav(c.model, c.audio, c.language, c.prompt);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), c.error);
  }
}

}  // namespace
}  // namespace ombri
