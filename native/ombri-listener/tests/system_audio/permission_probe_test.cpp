#include "system_audio/permission_probe.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "audio_reference.hpp"
#include "event_collector.hpp"
#include "platform_test_support.hpp"
#include "test_support.hpp"

namespace ombri {
namespace {

using namespace std::chrono_literals;

// Probes that take milliseconds instead of seconds (afplay still plays its 0.35 s).
constexpr ProbeTiming kQuick{10ms, 300ms, 10ms, 600ms, 10ms};

class PermissionProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* before = std::getenv("TMPDIR")) tmpdir_before = before;
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
    ::setenv("OMBRI_SIM_AFPLAY_LOG", log.c_str(), 1);
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (std::string(OMBRI_STANDINS_DIR) + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
  }

  // The test's own temporary directories are made under the TMPDIR from before.
  void TearDown() override {
    if (tmpdir_before)
      ::setenv("TMPDIR", tmpdir_before->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

  // Runs one probe to its end; returns its events' statuses.
  std::vector<std::string> probe(SharedFlag live, SharedFlag stop, ProbeTiming timing = kQuick,
                                 const std::function<void()>& after_first_event = {}) {
    test::EventCollector events;
    spawn_probe_thread("mic-m", events.sender(), live, stop, timing);
    if (after_first_event) {
      // However slow the machine, the late watch is what the test acts in.
      EXPECT_TRUE(test::eventually([&] { return !events.values().empty(); }));
      after_first_event();
    }
    std::vector<std::string> statuses;
    for (const auto& event : events.done()) {
      EXPECT_EQ(event.size(), 3u);
      EXPECT_EQ(event["type"], "systemAudio");
      EXPECT_EQ(event["sessionId"], "mic-m");
      statuses.push_back(event["status"].get<std::string>());
    }
    return statuses;
  }

  std::string played() const {
    std::string line;
    std::getline(std::ifstream(log), line);
    return line;
  }

  std::optional<std::string> tmpdir_before;
  test::TempDir tmp;
  test::TempDir other;
  std::string log = other.file("afplay.log");
  std::string tone = tmp.file("qir-system-audio-probe.wav");
};

TEST_F(PermissionProbe, WritesTheToneFileOnceAndReusesWhateverIsThere) {
  ASSERT_EQ(probe_wav_path(), tone);
  auto made = ensure_probe_wav();
  ASSERT_TRUE(made) << made.error();
  EXPECT_EQ(*made, tone);
  const auto bytes = test::read_bytes(tone);
  EXPECT_EQ(bytes.size(), 5644u);
  EXPECT_EQ(bytes, test::reference_probe_tone(other));
  const auto sound = test::read_with_sndfile(tone);
  EXPECT_EQ(sound.rate, 8000);
  EXPECT_EQ(sound.samples.front(), 0);
  EXPECT_EQ(*std::max_element(sound.samples.begin(), sound.samples.end()), 16383);

  std::ofstream(tone, std::ios::trunc) << "partial";
  EXPECT_TRUE(ensure_probe_wav());
  EXPECT_EQ(test::read_bytes(tone).size(), 7u);  // not rewritten
  std::filesystem::remove(tone);
  std::filesystem::create_directory(tone);
  EXPECT_TRUE(ensure_probe_wav());  // a directory is "something there" as well
  EXPECT_TRUE(std::filesystem::is_directory(tone));
}

TEST_F(PermissionProbe, ATemporaryDirectoryThatCannotBeWrittenIsAnError) {
  ::setenv("TMPDIR", tmp.file("missing").c_str(), 1);
  const auto made = ensure_probe_wav();
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error(), "Failed to create probe WAV: No such file or directory (os error 2)");
}

TEST_F(PermissionProbe, LiveWhenTheTapAlreadyHearsSound) {
  auto live = make_shared_flag();
  live->store(true);
  EXPECT_EQ(probe(live, make_shared_flag()), (std::vector<std::string>{"live"}));
  EXPECT_EQ(played(), "-v\t0.06\t" + tone);
}

TEST_F(PermissionProbe, SilentThenALateLiveOnlyWhileWatching) {
  // Silence throughout: one "silent", and the thread ends after its late watch.
  EXPECT_EQ(probe(make_shared_flag(), make_shared_flag()), (std::vector<std::string>{"silent"}));

  // Sound after the first watch: "silent", then "live".
  auto live = make_shared_flag();
  EXPECT_EQ(probe(live, make_shared_flag(), kQuick, [&] { live->store(true); }),
            (std::vector<std::string>{"silent", "live"}));

  // A stop during the late watch ends it without a further event, well before its end.
  auto stop = make_shared_flag();
  live = make_shared_flag();
  ProbeTiming long_late = kQuick;
  long_late.late_watch = 60s;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(probe(live, stop, long_late,
                  [&] {
                    stop->store(true);
                    live->store(true);
                  }),
            (std::vector<std::string>{"silent"}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(PermissionProbe, WithoutAToneFileTheEventStillComesAfterTheFirstWatch) {
  ::setenv("TMPDIR", tmp.file("missing").c_str(), 1);
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(probe(make_shared_flag(), make_shared_flag(), ProbeTiming{400ms, 2s, 100ms, 0ms, 500ms}),
            (std::vector<std::string>{"silent"}));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ombri-listener probe: Failed to create probe WAV: No such file or directory (os error 2)\n");
  EXPECT_GE(took, 2400ms);
  EXPECT_LT(took, 4s);
  EXPECT_EQ(played(), "");  // nothing to play
}

}  // namespace
}  // namespace ombri
