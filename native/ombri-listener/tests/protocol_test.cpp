#include "protocol.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

#include "event_channel.hpp"

namespace ombri {
namespace {

std::string written_text(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

TEST(WriteResponse, EnvelopesAreWrittenWithSortedKeys) {
  std::FILE* file = std::tmpfile();
  const auto out = make_shared_stdout(file);
  ASSERT_TRUE(write_response(out, response_ok("a", Json{{"z", 1}, {"b", 0.5}})));
  ASSERT_TRUE(write_response(out, response_error("b", "bad", "Bad.")));
  EXPECT_EQ(written_text(file),
            "{\"id\":\"a\",\"ok\":true,\"result\":{\"b\":0.5,\"z\":1}}\n"
            "{\"error\":{\"code\":\"bad\",\"message\":\"Bad.\"},\"id\":\"b\",\"ok\":false}\n");
  std::fclose(file);
}

TEST(WriteResponse, PoisonedLockFailsEveryLaterWrite) {
  std::FILE* file = std::tmpfile();
  const auto out = make_shared_stdout(file);
  std::thread([&] {
    try {
      auto guard = out->lock();
      throw std::runtime_error("failed while holding stdout");
    } catch (const std::runtime_error&) {
    }
  }).join();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto written = write_response(out, Json(1));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "stdout lock poisoned");
  }
  EXPECT_EQ(written_text(file), "");
  std::fclose(file);
}

TEST(WriteResponse, FailedWriteIsReported) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  const auto written = write_response(make_shared_stdout(full), Json("x"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), "No space left on device (os error 28)");
  std::fclose(full);
}

TEST(Timestamp, Format) {
  EXPECT_EQ(format_timestamp(1700000000, 5'000'000), "1700000000.005Z");
  EXPECT_EQ(format_timestamp(1700000000, 42'999'999), "1700000000.042Z");
  EXPECT_EQ(format_timestamp(0, 0), "0.000Z");
  EXPECT_EQ(format_timestamp(-5, 0), "0.000Z");
  EXPECT_EQ(format_timestamp(12, 999'999'999), "12.999Z");
  EXPECT_TRUE(timestamp_now().ends_with("Z"));
}

TEST(EventChannel, DeliversInOrderThenReportsDisconnection) {
  auto [sender, receiver] = make_event_channel();
  std::optional<EventSender> clone(sender);
  std::thread producer([moved = std::move(sender)] {
    for (int i = 0; i < 1000; ++i) moved.send(Json(i));
  });
  producer.join();
  clone->send(Json("last"));
  clone.reset();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(receiver.receive(), Json(i));
  EXPECT_EQ(receiver.receive(), Json("last"));
  EXPECT_FALSE(receiver.receive().has_value());
}

TEST(EventChannel, SendingWithoutReceiverIsIgnored) {
  auto [sender, receiver] = make_event_channel();
  { EventReceiver gone = std::move(receiver); }
  sender.send(Json(1));
}

}  // namespace
}  // namespace ombri
