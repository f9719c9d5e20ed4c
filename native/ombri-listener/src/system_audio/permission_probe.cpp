#include "system_audio/permission_probe.hpp"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/staged_file.hpp"
#include "platform/temp_dir.hpp"
#include "wav/wav_writer.hpp"

extern char** environ;

namespace ombri {
namespace {

constexpr char kProbeFileName[] = "qir-system-audio-probe.wav";
constexpr std::uint32_t kToneRate = 8000;
constexpr int kToneSamples = 2800;

std::filesystem::path temp_dir() {
  if (const char* tmpdir = std::getenv("TMPDIR")) return tmpdir;
  if (auto dir = platform::user_temp_dir()) return *dir;
  return "/tmp";
}

// Its exit status and a failure to start it are of no interest: the watch
// that follows tells whether the tap heard anything.
void play_tone(const std::string& path) {
  char tool[] = "afplay";
  char volume_flag[] = "-v";
  char volume[] = "0.06";
  std::string file = path;
  char* argv[] = {tool, volume_flag, volume, file.data(), nullptr};
  pid_t pid;
  if (::posix_spawnp(&pid, tool, nullptr, nullptr, argv, environ) != 0) return;
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

Json probe_event(const std::string& session_id, const char* status) {
  return Json{{"type", "systemAudio"}, {"sessionId", session_id}, {"status", status}};
}

bool is_set(const SharedFlag& flag) { return flag->load(std::memory_order_acquire); }

void run_probe(const std::string& session_id, const EventSender& events, const SharedFlag& live, const SharedFlag& stop,
               const ProbeTiming& timing) {
  using Clock = std::chrono::steady_clock;
  std::this_thread::sleep_for(timing.before_tone);
  if (auto path = ensure_probe_wav())
    play_tone(*path);
  else
    std::fprintf(stderr, "ombri-listener probe: %s\n", path.error().c_str());

  const auto first_deadline = Clock::now() + timing.first_watch;
  while (Clock::now() < first_deadline && !is_set(live)) std::this_thread::sleep_for(timing.first_poll);
  if (is_set(live)) {
    events.send(probe_event(session_id, "live"));
    return;
  }
  events.send(probe_event(session_id, "silent"));

  const auto late_deadline = Clock::now() + timing.late_watch;
  while (Clock::now() < late_deadline && !is_set(stop)) {
    if (is_set(live)) {
      events.send(probe_event(session_id, "live"));
      return;
    }
    std::this_thread::sleep_for(timing.late_poll);
  }
}

}  // namespace

std::vector<std::int16_t> probe_tone() {
  std::vector<std::int16_t> samples;
  samples.reserve(kToneSamples);
  for (int i = 0; i < kToneSamples; ++i) {
    const float t = static_cast<float>(i) / static_cast<float>(kToneRate);
    const float value = std::sin(t * 440.0f * 6.2831855f) * 0.5f * 32767.0f;
    // Within +-16383.5, so truncation toward zero needs no clamp to the 16-bit range.
    samples.push_back(static_cast<std::int16_t>(value));
  }
  return samples;
}

std::string probe_wav_path() { return (temp_dir() / kProbeFileName).string(); }

Result<std::string> ensure_probe_wav() {
  std::string path = probe_wav_path();
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) return path;
  // Only a whole tone gets the name, which is never written again: a tone cut
  // short by a kill, or mixed with another listener's, would stay for good.
  auto staged = StagedFile::create(path, "probe");
  if (!staged) return ErrorText{"Failed to create probe WAV: " + staged.error()};
  auto writer = WavWriter::create(*staged, 1, kToneRate);
  if (!writer) return ErrorText{"Failed to create probe WAV: " + writer.error()};
  for (const std::int16_t sample : probe_tone())
    if (auto written = writer->write_sample(sample); !written)
      return ErrorText{"Failed to write probe WAV: " + written.error()};
  if (auto finalized = writer->finalize(); !finalized)
    return ErrorText{"Failed to finalize probe WAV: " + finalized.error()};
  if (auto committed = staged->commit(); !committed)
    return ErrorText{"Failed to finalize probe WAV: " + committed.error()};
  return path;
}

void spawn_probe_thread(std::string session_id, EventSender events, SharedFlag live, SharedFlag stop,
                        ProbeTiming timing) {
  std::thread([session_id = std::move(session_id), events = std::move(events), live = std::move(live),
               stop = std::move(stop), timing] {
    run_probe(session_id, events, live, stop, timing);
  }).detach();
}

}  // namespace ombri
