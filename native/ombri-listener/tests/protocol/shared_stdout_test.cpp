#include "protocol/shared_stdout.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "base/unique_fd.hpp"
#include "protocol/envelope.hpp"
#include "test_support.hpp"

namespace ombri {
namespace {

using test::file_text;

Result<void> write_all_text(int fd, const std::string& text) {
  std::size_t done = 0;
  return write_all(fd, text.data(), text.size(), done);
}

TEST(WriteResponse, EnvelopesAreWrittenWithSortedKeys) {
  std::FILE* file = std::tmpfile();
  const auto out = make_shared_stdout(fileno(file));
  ASSERT_TRUE(write_response(out, response_ok("a", Json{{"z", 1}, {"b", 0.5}})));
  ASSERT_TRUE(write_response(out, response_error("b", "bad", "Bad.")));
  EXPECT_EQ(file_text(file),
            "{\"id\":\"a\",\"ok\":true,\"result\":{\"b\":0.5,\"z\":1}}\n"
            "{\"error\":{\"code\":\"bad\",\"message\":\"Bad.\"},\"id\":\"b\",\"ok\":false}\n");
  std::fclose(file);
}

TEST(WriteResponse, PoisonedLockFailsEveryLaterWrite) {
  std::FILE* file = std::tmpfile();
  const auto out = make_shared_stdout(fileno(file));
  test::poison(*out);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto written = write_response(out, Json(1));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "stdout lock poisoned");
  }
  EXPECT_EQ(file_text(file), "");
  std::fclose(file);
}

TEST(WriteResponse, FailedWriteIsReported) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  const auto written = write_response(make_shared_stdout(fileno(full)), Json("x"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), "No space left on device (os error 28)");
  std::fclose(full);
}

// Another thread in the middle of a line holds the lock and a second one
// waits for it with a line of its own: the exit waits for the first line
// only, and no line starts after it.
TEST(CloseForExit, WaitsForTheLineInProgressAndDropsTheOnesBehindIt) {
  std::FILE* file = std::tmpfile();
  const auto out = make_shared_stdout(fileno(file));
  std::promise<void> locked;
  std::promise<void> release;
  std::thread in_progress([&] {
    auto guard = out->lock();
    locked.set_value();
    release.get_future().wait();
    ASSERT_TRUE(write_all_text(guard->fd, "{\"line\":1}\n"));
  });
  locked.get_future().wait();
  auto queued = std::async(std::launch::async, [&] { return write_response(out, Json(2)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // queued behind the lock, most likely
  auto closed = std::async(std::launch::async, [&] { return close_for_exit(out, std::chrono::seconds(10)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  release.set_value();
  EXPECT_TRUE(closed.get());
  in_progress.join();
  const auto behind = queued.get();
  ASSERT_FALSE(behind);
  EXPECT_EQ(behind.error(), "stdout closed");
  const auto later = write_response(out, Json(3));
  ASSERT_FALSE(later);
  EXPECT_EQ(later.error(), "stdout closed");
  EXPECT_EQ(file_text(file), "{\"line\":1}\n");
  std::fclose(file);
}

// A reader that stopped reading keeps the line from ever completing: the
// wait gives up.
TEST(CloseForExit, GivesUpOnALineThatNeverCompletes) {
  const auto out = make_shared_stdout(STDERR_FILENO);
  auto held = out->lock();
  EXPECT_FALSE(close_for_exit(out, std::chrono::milliseconds(20)));
}

}  // namespace
}  // namespace ombri
