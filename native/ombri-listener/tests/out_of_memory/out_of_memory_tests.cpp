// Allocations that fail, on each thread of the listener that allocates for a
// request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "listener/commands.hpp"
#include "protocol/event_channel.hpp"
#include "protocol/request_loop.hpp"
#include "protocol/shared_stdout.hpp"
#include "refused_allocations.hpp"
#include "test_support.hpp"
#include "wav/wav_writer.hpp"

namespace ombri {
namespace {

using test::file_text;
using test::RefuseAllocations;

TEST(OutOfMemory, EndsTheRequestLoopWithItsError) {
  const std::string big_line = "{\"id\":\"" + std::string(1 << 20, 'a') + "\",\"cmd\":\"status\"}\n";
  const struct {
    const char* name;
    std::string input;
    bool handler_throws;
  } cases[] = {
      {"reading a line", big_line + "{\"id\":\"1\"}\n", false},
      {"in the handler", "{\"id\":\"1\"}\n{\"id\":\"2\"}\n", true},
  };
  for (const auto& c : cases) {
    std::FILE* input = std::tmpfile();
    std::fputs(c.input.c_str(), input);
    std::rewind(input);
    std::FILE* output = std::tmpfile();
    int handled = 0;
    Result<void> served{};
    {
      RefuseAllocations refuse(256 * 1024);
      served =
          serve_requests(fileno(input), make_shared_stdout(fileno(output)), [&](CommandOutcome& outcome, const Json&) {
            ++handled;
            if (c.handler_throws) throw std::bad_alloc();
            outcome.response = Json("handled");
          });
    }
    ASSERT_FALSE(served) << c.name;
    EXPECT_EQ(served.error(), "out of memory") << c.name;
    EXPECT_EQ(handled, c.handler_throws ? 1 : 0) << c.name;
    EXPECT_EQ(file_text(output), "") << c.name;
    std::fclose(input);
    std::fclose(output);
  }
}

// A value the writer thread cannot format is lost like one it cannot write;
// the thread and the lock live on for the next value.
TEST(OutOfMemory, WriterThreadDropsTheValueAndGoesOn) {
  std::FILE* output = std::tmpfile();
  const SharedStdout out = make_shared_stdout(fileno(output));
  auto [sender, receiver] = make_event_channel();
  sender.send(Json(std::string(1 << 20, 'x')));
  sender.send(Json("small"));
  {
    RefuseAllocations refuse(512 * 1024);
    std::thread writer(write_events, out, std::move(receiver));
    { auto gone = std::move(sender); }
    writer.join();
  }
  EXPECT_EQ(file_text(output), "\"small\"\n");
  ASSERT_TRUE(write_response(out, Json(1)));
  std::fclose(output);
}

TEST(OutOfMemory, EnhanceWorkerAnswersWithAnError) {
  test::TempDir dir;
  const std::string input = dir.file("in.wav");
  {
    auto writer = WavWriter::create(input, 1, 48000);
    ASSERT_TRUE(writer.ok());
    for (int i = 0; i < 4800; ++i) ASSERT_TRUE(writer->write_sample(100).ok());
    ASSERT_TRUE(writer->finalize().ok());
  }
  auto [sender, receiver] = make_event_channel();
  std::optional<Json> answer;
  {
    RuntimeState state(std::move(sender));
    const Json request{{"id", "e"}, {"cmd", "enhance"}, {"args", {{"input", input}, {"output", dir.file("out.wav")}}}};
    CommandOutcome outcome;
    // The worker's file buffers are 8192 bytes; the request and its answer are far smaller.
    RefuseAllocations refuse(8192);
    handle_command(outcome, request, state);
    EXPECT_TRUE(outcome.response.is_null());
    answer = receiver.receive();
  }
  ASSERT_TRUE(answer);
  EXPECT_EQ(to_json_text(*answer),
            R"({"error":{"code":"enhance_failed","message":"out of memory"},"id":"e","ok":false})");
}

}  // namespace
}  // namespace ombri
