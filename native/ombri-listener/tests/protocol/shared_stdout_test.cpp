#include "protocol/shared_stdout.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include "protocol/envelope.hpp"
#include "test_support.hpp"

namespace ombri {
namespace {

using test::file_text;

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

}  // namespace
}  // namespace ombri
