#include "listener/runtime_state.hpp"

#include <gtest/gtest.h>

#include "mic_capture.hpp"
#include "test_support.hpp"

namespace ombri {
namespace {

using test::capture_writing;
using test::TempDir;

std::uint32_t data_size(const std::string& path) {
  const auto bytes = test::read_bytes(path);
  return bytes[40] | bytes[41] << 8 | bytes[42] << 16 | std::uint32_t{bytes[43]} << 24;
}

TEST(RuntimeState, FreshStateIsIdle) {
  RuntimeState state(std::nullopt);
  EXPECT_EQ(to_json_text(state.status.to_json()),
            R"({"reason":null,"sessionId":null,"startedAt":null,"state":"idle"})");
  auto stopped = state.stop_active_capture();
  ASSERT_TRUE(stopped);
  EXPECT_FALSE(stopped->has_value());
}

TEST(RuntimeState, StopFinalisesTheMicFileAndForgetsTheCapture) {
  TempDir dir;
  RuntimeState state(std::nullopt);
  state.active_capture = capture_writing(dir.file("audio-mic.wav"), 1, 3000);
  auto stopped = state.stop_active_capture();
  ASSERT_TRUE(stopped) << stopped.error();
  ASSERT_TRUE(stopped->has_value());
  EXPECT_EQ((*stopped)->session_id, "mic-m");
  EXPECT_EQ((*stopped)->mic_path, dir.file("audio-mic.wav"));
  EXPECT_FALSE((*stopped)->system_path);
  EXPECT_FALSE(state.active_capture);
  EXPECT_EQ(data_size(dir.file("audio-mic.wav")), 6000u);
  EXPECT_FALSE(state.stop_active_capture()->has_value());
}

TEST(RuntimeState, StopReportsFailedFinalisation) {
  TempDir dir;
  RuntimeState state(std::nullopt);
  state.active_capture = capture_writing(dir.file("audio-mic.wav"), 2, 5);
  auto stopped = state.stop_active_capture();
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error(),
            "Failed to finalize mic WAV: The number of samples written is not a multiple of the number of channels.");
  EXPECT_FALSE(state.active_capture);
}

TEST(RuntimeState, PoisonedMicWriterIsReportedAndTheFileStillCompleted) {
  TempDir dir;
  RuntimeState state(std::nullopt);
  state.active_capture = capture_writing(dir.file("audio-mic.wav"), 1, 100);
  SharedWavWriter writer = state.active_capture->mic_writer;
  test::poison(*writer);
  writer.reset();
  auto stopped = state.stop_active_capture();
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error(), "Mic WAV writer lock was poisoned.");
  EXPECT_EQ(data_size(dir.file("audio-mic.wav")), 200u);
}

}  // namespace
}  // namespace ombri
