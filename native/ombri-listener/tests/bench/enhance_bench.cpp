// Speech enhancement throughput: seconds of audio per second through
// enhance_wav, next to RNNoise alone on the same frames, and our overhead.
#include <benchmark/benchmark.h>
#include <rnnoise.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "overhead_report.hpp"
#include "processing/enhance.hpp"
#include "wav/wav_writer.hpp"

namespace {

constexpr int kRate = 48000;
constexpr int kSeconds = 20;
constexpr std::size_t kFrame = 480;

// A tone with deterministic noise, the 16-bit samples a recording would hold.
std::vector<std::int16_t> signal() {
  std::vector<std::int16_t> samples(kRate * kSeconds);
  std::uint32_t seed = 1;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    const double tone = 6000 * std::sin(2 * M_PI * 220.0 * static_cast<double>(i) / kRate);
    samples[i] = static_cast<std::int16_t>(tone + static_cast<double>(seed >> 21) - 1024);
  }
  return samples;
}

struct Files {
  std::string input = "/tmp/ombri-enhance-bench-" + std::to_string(getpid()) + ".wav";
  std::string output = "/tmp/ombri-enhance-bench-" + std::to_string(getpid()) + "-out.wav";
  Files() {
    auto writer = ombri::WavWriter::create(input, 1, kRate);
    for (auto s : signal()) (void)writer->write_sample(s);
    (void)writer->finalize();
  }
  ~Files() {
    std::remove(input.c_str());
    std::remove(output.c_str());
  }
};

void report_rate(benchmark::State& state) {
  state.counters["audio_s_per_s"] = benchmark::Counter(
      static_cast<double>(kSeconds) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_EnhanceWav(benchmark::State& state) {
  static const Files files;
  for (auto _ : state) {
    auto summary = ombri::enhance_wav(files.input, files.output);
    if (!summary) state.SkipWithError(summary.error().c_str());
  }
  report_rate(state);
}
BENCHMARK(BM_EnhanceWav)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same frames, already in memory and in 16-bit scale: the denoiser's own cost.
void BM_RnnoiseAlone(benchmark::State& state) {
  const auto samples = signal();
  const std::vector<float> scaled(samples.begin(), samples.end());
  std::vector<float> out(kFrame);
  for (auto _ : state) {
    DenoiseState* denoiser = rnnoise_create(nullptr);
    for (std::size_t i = 0; i + kFrame <= scaled.size(); i += kFrame)
      benchmark::DoNotOptimize(rnnoise_process_frame(denoiser, out.data(), scaled.data() + i));
    rnnoise_destroy(denoiser);
  }
  report_rate(state);
}
BENCHMARK(BM_RnnoiseAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return ombri::bench::run_with_overhead(argc, argv, "BM_EnhanceWav/real_time", "BM_RnnoiseAlone/real_time",
                                         "enhance_wav overhead over RNNoise alone", 10);
}
