#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "listener/commands.hpp"
#include "processing/enhance.hpp"
#include "protocol/event_channel.hpp"
#include "tiny_whisper_model.hpp"
#include "wav_test_files.hpp"

namespace ombri {
namespace {

using test::le16;
using test::sox_wav;
using test::TempDir;
using test::tiny_whisper_model;

Json request(const std::string& id, const std::string& cmd, Json args) {
  Json r{{"id", id}, {"cmd", cmd}};
  if (!args.is_discarded()) r["args"] = std::move(args);
  return r;
}

const Json kNoArgs = Json(Json::value_t::discarded);

TEST(ProcessingCommands, BadArgumentsAreAnsweredAtOnce) {
  const std::string enhance_error =
      R"j({"error":{"code":"invalid_request","message":"enhance requires args.input (path to a WAV file)."},"id":"r","ok":false})j";
  const std::string transcribe_error =
      R"j({"error":{"code":"invalid_request","message":"transcribe requires args.modelPath and args.audioPath."},"id":"r","ok":false})j";
  const struct {
    Json request;
    const std::string& expected;
  } cases[] = {
      {request("r", "enhance", kNoArgs), enhance_error},
      {request("r", "enhance", Json::array({"a.wav"})), enhance_error},
      {request("r", "enhance", {{"input", 7}}), enhance_error},
      {request("r", "enhance", {{"input", ""}}), enhance_error},
      {request("r", "transcribe", kNoArgs), transcribe_error},
      {request("r", "transcribe", Json::array({"m", "a"})), transcribe_error},
      {request("r", "transcribe", {{"modelPath", "m.bin"}}), transcribe_error},
      {request("r", "transcribe", {{"modelPath", 1}, {"audioPath", "a.wav"}}), transcribe_error},
  };
  auto [sender, receiver] = make_event_channel();
  RuntimeState state(sender);
  for (const auto& c : cases) {
    CommandOutcome outcome;
    handle_command(outcome, c.request, state);
    EXPECT_EQ(to_json_text(outcome.response), c.expected) << c.request;
    EXPECT_TRUE(outcome.events.empty());
  }
}

// Every accepted request gets exactly one answer, later, through the
// channel, with its own id; nothing comes back in the outcome.
TEST(ProcessingCommands, WorkersAnswerThroughTheEventChannel) {
  TempDir dir;
  const auto input = sox_wav(dir, "take.wav", "signed-integer", 16, 1, 16000, le16(std::vector<int>(1600, 500)));
  // 2.75 s: the tiny model's known decoding.
  const auto speech = sox_wav(dir, "speech.wav", "signed-integer", 16, 1, 16000, le16(std::vector<int>(44000, 300)));
  const auto model = tiny_whisper_model();
  const std::string nul_language("d\0e", 3);
  const std::map<std::string, Json> requests = {
      {"blank-input", request("blank-input", "enhance", {{"input", "  "}})},
      {"default-output", request("default-output", "enhance", {{"input", input}, {"output", 42}})},
      {"empty-output", request("empty-output", "enhance", {{"input", input}, {"output", ""}})},
      {"no-model", request("no-model", "transcribe", {{"modelPath", ""}, {"audioPath", input}})},
      {"nul-language",
       request("nul-language", "transcribe", {{"modelPath", model}, {"audioPath", input}, {"language", nul_language}})},
      {"first", request("first", "transcribe", {{"modelPath", model}, {"audioPath", speech}, {"language", 5}})},
      // A blank language is none: whisper.cpp still detects German.
      {"second", request("second", "transcribe",
                         {{"modelPath", model}, {"audioPath", speech}, {"language", " \t "}, {"prompt", ""}})},
  };

  auto [sender, receiver] = make_event_channel();
  {
    RuntimeState state(std::move(sender));
    for (const auto& [id, r] : requests) {
      CommandOutcome outcome;
      handle_command(outcome, r, state);
      EXPECT_TRUE(outcome.response.is_null()) << id;
      EXPECT_TRUE(outcome.events.empty()) << id;
    }
  }  // the workers now hold the last senders

  std::map<std::string, Json> answers;
  while (auto value = receiver.receive()) {
    const auto id = (*value)["id"].get<std::string>();
    EXPECT_TRUE(answers.emplace(id, *value).second) << "second answer for " << id;
  }
  ASSERT_EQ(answers.size(), requests.size());

  const Json enhanced = answers["default-output"];
  EXPECT_EQ(enhanced["ok"], true);
  EXPECT_EQ(enhanced["result"]["output"], default_output_path(input));
  EXPECT_EQ(enhanced["result"]["frames"], 10);
  EXPECT_EQ(enhanced["result"]["inputSeconds"], 0.1);
  EXPECT_TRUE(enhanced["result"]["vadMean"].is_number_float());
  EXPECT_TRUE(std::filesystem::exists(default_output_path(input)));

  const std::string transcript =
      R"j({"durationSeconds":2.75,"language":"de","segments":[{"end":2.7,"start":0.5,"text":"w1000"}],"text":"w1000"})j";
  const std::map<std::string, std::string> expected = {
      {"blank-input",
       R"j({"error":{"code":"enhance_failed","message":"could not open input: No such file or directory (os error 2)"},"id":"blank-input","ok":false})j"},
      {"empty-output",
       R"j({"error":{"code":"enhance_failed","message":"could not open output: No such file or directory (os error 2)"},"id":"empty-output","ok":false})j"},
      {"no-model",
       R"j({"error":{"code":"transcription_failed","message":"The selected Whisper model is not installed."},"id":"no-model","ok":false})j"},
      {"nul-language",
       R"j({"error":{"code":"transcription_failed","message":"Language contains null byte"},"id":"nul-language","ok":false})j"},
      {"first", R"j({"id":"first","ok":true,"result":)j" + transcript + "}"},
      {"second", R"j({"id":"second","ok":true,"result":)j" + transcript + "}"},
  };
  for (const auto& [id, text] : expected) EXPECT_EQ(to_json_text(answers[id]), text);
}

TEST(ProcessingCommands, WithoutASenderTheAnswerComesInline) {
  RuntimeState state(std::nullopt);
  CommandOutcome outcome;
  handle_command(outcome, request("i", "enhance", {{"input", "/no/such.wav"}}), state);
  EXPECT_EQ(
      to_json_text(outcome.response),
      R"j({"error":{"code":"enhance_failed","message":"could not open input: No such file or directory (os error 2)"},"id":"i","ok":false})j");
  EXPECT_TRUE(outcome.events.empty());

  CommandOutcome transcribed;
  handle_command(transcribed, request("t", "transcribe", {{"modelPath", "/no/model.bin"}, {"audioPath", "a.wav"}}),
                 state);
  EXPECT_EQ(
      to_json_text(transcribed.response),
      R"j({"error":{"code":"transcription_failed","message":"The selected Whisper model is not installed."},"id":"t","ok":false})j");
}

}  // namespace
}  // namespace ombri
