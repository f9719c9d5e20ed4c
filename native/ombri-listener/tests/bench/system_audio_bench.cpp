// The system-audio path's cost: one hour of 48 kHz mono tap audio in cycles
// of 512 frames through tap_io_proc and the sample ring, drained about every
// 20 ms (two cycles) as the drain thread does, into a real WAV file at 48 kHz,
// the LevelHub and 24 kHz live chunks. The level meter's clock follows the
// audio, so it sends its events at the rate of a real hour. Prints the CPU
// time of that work per second of audio as a share of one core; the thread
// that receives the events (standing in for the stdout writer) is not counted.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "platform/hal.hpp"
#include "system_audio/drain_thread.hpp"
#include "system_audio/tap_io_proc.hpp"

namespace {

using namespace ombri;

constexpr std::uint32_t kRate = 48000;
constexpr std::size_t kFrames = 512;
constexpr double kSeconds = 3600.0;

std::atomic<std::int64_t> audio_nanoseconds{0};
LevelHub::Clock::time_point audio_clock() {
  return LevelHub::Clock::time_point(std::chrono::nanoseconds(audio_nanoseconds.load()));
}

double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Ten seconds of a speech-like tone with noise, cycled.
std::vector<float> tap_signal() {
  std::vector<float> samples(kRate * 10);
  std::uint32_t noise = 1;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / kRate;
    samples[i] = static_cast<float>(0.3 * std::sin(2 * 3.14159 * 220 * t) * std::sin(2 * 3.14159 * 0.7 * t) +
                                    0.01 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5));
  }
  return samples;
}

void BM_SystemAudioOneHour(benchmark::State& state) {
  const std::string path = (std::filesystem::temp_directory_path() / "ombri-system-audio-bench.wav").string();
  const auto signal = tap_signal();
  const auto cycles = static_cast<std::size_t>(kSeconds * kRate / kFrames);
  double cpu = 0.0;
  std::size_t events_sent = 0;
  for (auto _ : state) {
    hal::AudioObjectID tap = 0;
    if (hal::create_process_tap(hal::TapDescription::mono_global_excluding({}), tap) != 0) std::abort();
    auto ring = make_sample_ring();
    Ctx ctx{ring.producer, std::vector<float>(kTapScratchSamples, 0.0f), 1};
    auto writer = share_wav_writer(WavWriter::create(path, 1, kRate).value());
    auto channel = make_event_channel();
    std::optional<EventSender> sender(std::move(channel.first));
    std::thread discard([&events_sent, receiver = std::move(channel.second)]() mutable {
      while (receiver.receive()) ++events_sent;
    });
    auto stop = make_shared_flag();
    {
      Drain drain(DrainInputs{ring.consumer, writer, stop, make_shared_flag(),
                              std::make_shared<LevelHub>(*sender, "mic-bench", audio_clock),
                              LiveStream{StreamSink{*sender, "mic-bench"}, kRate, 1},
                              LinearResampler::between(kRate, kRate), hal::ProcessTap(tap)});
      const double before = thread_cpu_seconds();
      for (std::size_t i = 0; i < cycles; ++i) {
        const std::size_t offset = (i * kFrames) % signal.size();
        hal::AudioBuffer buffer{1, kFrames * sizeof(float), const_cast<float*>(signal.data() + offset)};
        const hal::AudioBufferList input{1, &buffer};
        (void)tap_io_proc(1, nullptr, &input, nullptr, nullptr, nullptr, &ctx);
        audio_nanoseconds += static_cast<std::int64_t>(kFrames * 1'000'000'000ULL / kRate);
        if (i % 2 == 1)
          while (drain.drain_batch()) {
          }
      }
      stop->store(true);
      drain.run();
      cpu += thread_cpu_seconds() - before;
    }
    (void)(*writer->lock())->finalize();
    sender.reset();
    discard.join();
  }
  std::filesystem::remove(path);
  const double per_audio_second = cpu / static_cast<double>(state.iterations()) / kSeconds;
  state.counters["cpu_s_per_audio_s"] = per_audio_second;
  state.counters["percent_of_one_core"] = per_audio_second * 100.0;
  state.counters["events"] = static_cast<double>(events_sent) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_SystemAudioOneHour)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
