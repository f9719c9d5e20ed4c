#include "protocol/shared_stdout.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <string>
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
    ASSERT_TRUE(write_all_text(out->fd, "{\"line\":1}\n"));
  });
  locked.get_future().wait();
  auto queued = std::async(std::launch::async, [&] { return write_response(out, Json(2)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // queued behind the lock, most likely
  auto closed = std::async(std::launch::async, [&] {
    return close_for_exit(out, {std::chrono::seconds(10), std::chrono::seconds(60)});
  });
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
  EXPECT_FALSE(close_for_exit(out, {std::chrono::milliseconds(20), std::chrono::seconds(60)}));
}

// A line four times as long as its pipe, behind readers of every pace: the
// exit waits as long as the line keeps going out, and only so long. The slow
// reader frees the pipe's one page more slowly than the stall allows, so
// only its reads show the progress.
TEST(CloseForExit, WaitsWhileTheLineGoesOutAndGivesUpOnAStall) {
  using std::chrono::milliseconds;
  struct Case {
    const char* name;
    std::optional<milliseconds> pace;  // between reads of 256 bytes; none: the reader stopped
    ExitWait wait;
    bool whole;  // the line was out when the wait ended
  };
  const Case cases[] = {
      {"a slow reader, 8 KB/s", milliseconds(30), {milliseconds(300), std::chrono::seconds(60)}, true},
      {"a reader that stopped", std::nullopt, {milliseconds(300), std::chrono::seconds(60)}, false},
      {"a slow reader past the limit", milliseconds(30), {milliseconds(300), milliseconds(600)}, false},
  };
  const std::string text(16 * 1024, 'x');
  const std::string line = "\"" + text + "\"\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    UniqueFd read_end(ends[0]);
    UniqueFd write_end(ends[1]);
    ASSERT_EQ(::fcntl(write_end.get(), F_SETPIPE_SZ, 4096), 4096);
    const auto out = make_shared_stdout(write_end.get());
    auto writing = std::async(std::launch::async, [&] { return write_response(out, Json(text)); });
    pollfd readable{read_end.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&readable, 1, 10000), 1);  // the line is in progress

    std::atomic<bool> drain{false};
    std::string received;
    std::thread reader([&] {
      if (!c.pace)
        while (!drain) std::this_thread::sleep_for(milliseconds(1));
      char buffer[256];
      for (;;) {
        auto got = read_some(read_end.get(), buffer, sizeof buffer);
        if (!got || *got == 0) return;
        received.append(buffer, *got);
        if (!drain) std::this_thread::sleep_for(*c.pace);
      }
    });
    EXPECT_EQ(close_for_exit(out, c.wait), c.whole);
    drain = true;
    EXPECT_TRUE(writing.get());
    write_end.reset();
    reader.join();
    EXPECT_EQ(received, line);
  }
}

}  // namespace
}  // namespace ombri
