// The microphone callback's cost: one hour of 48 kHz stereo in buffers of 512
// frames through the f32 and i16 callbacks into a real WAV file and a real
// LevelHub. Prints the CPU time per second of audio as a share of one core.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "listener/mic_stream.hpp"

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::uint16_t kChannels = 2;
constexpr std::size_t kFrames = 512;
constexpr double kSeconds = 3600.0;

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

template <class T>
std::vector<T> speech_like_buffer(std::size_t index) {
  std::vector<T> buffer(kFrames * kChannels);
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    const double x = 0.3 * std::sin(0.01 * static_cast<double>(index * buffer.size() + i));
    if constexpr (std::is_same_v<T, float>)
      buffer[i] = static_cast<float>(x);
    else
      buffer[i] = static_cast<T>(x * 32767.0);
  }
  return buffer;
}

template <class T>
void BM_MicCallbackOneHour(benchmark::State& state) {
  const std::string path = (std::filesystem::temp_directory_path() / "ombri-mic-stream-bench.wav").string();
  // A handful of distinct buffers, cycled: the callback cannot tell.
  std::vector<std::vector<T>> buffers;
  for (std::size_t i = 0; i < 16; ++i) buffers.push_back(speech_like_buffer<T>(i));
  const auto total = static_cast<std::size_t>(kSeconds * kRate / kFrames);
  double cpu = 0.0;
  for (auto _ : state) {
    auto writer = ombri::share_wav_writer(ombri::WavWriter::create(path, kChannels, kRate).value());
    auto [sender, receiver] = ombri::make_event_channel();
    auto levels = std::make_shared<ombri::LevelHub>(std::move(sender), "mic-bench");
    auto callback = ombri::mic_audio_callback<T>(writer, levels);
    const double before = cpu_seconds();
    for (std::size_t i = 0; i < total; ++i) callback(std::span<const T>(buffers[i % buffers.size()]));
    cpu += cpu_seconds() - before;
    (void)(*writer->lock())->finalize();
  }
  std::filesystem::remove(path);
  const double per_audio_second = cpu / state.iterations() / kSeconds;
  state.counters["cpu_s_per_audio_s"] = per_audio_second;
  state.counters["percent_of_one_core"] = per_audio_second * 100.0;
}

BENCHMARK(BM_MicCallbackOneHour<float>)->Name("MicCallbackOneHour/f32")->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_MicCallbackOneHour<std::int16_t>)->Name("MicCallbackOneHour/i16")->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
