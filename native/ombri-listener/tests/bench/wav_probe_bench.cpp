// Probe throughput on a 10-minute 48 kHz stereo 16-bit file, next to the rate
// at which `cat` reads the same file into /dev/null (both from the page cache).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fixture/wav_probe.hpp"
#include "wav/wav_writer.hpp"

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint64_t kFrames = std::uint64_t{kRate} * 600;

// Alternating stretches of tone-like sound and near silence, so the probe
// also segments.
const std::string& bench_file() {
  static const std::string path = [] {
    const std::string file = (std::filesystem::temp_directory_path() / "ombri-wav-probe-bench.wav").string();
    auto writer = ombri::WavWriter::create(file, kChannels, kRate);
    if (!writer) std::abort();
    std::uint32_t noise = 12345;
    for (std::uint64_t frame = 0; frame < kFrames; ++frame) {
      const bool loud = (frame / (kRate * 3)) % 2 == 0;
      noise = noise * 1664525u + 1013904223u;
      const double tone = std::sin(static_cast<double>(frame) * 0.0577);
      const double value = loud ? 9000 * tone + static_cast<double>(noise >> 20) - 2048 : (noise >> 28);
      for (std::uint16_t c = 0; c < kChannels; ++c)
        if (!writer->write_sample(static_cast<std::int16_t>(value))) std::abort();
    }
    if (!writer->finalize()) std::abort();
    return file;
  }();
  return path;
}

std::int64_t file_bytes() { return static_cast<std::int64_t>(std::filesystem::file_size(bench_file())); }

void BM_ProbeWav(benchmark::State& state) {
  const std::string& path = bench_file();
  for (auto _ : state) {
    auto probe = ombri::probe_wav(path);
    if (!probe) state.SkipWithError(probe.error().c_str());
    benchmark::DoNotOptimize(probe);
  }
  state.SetBytesProcessed(state.iterations() * file_bytes());
}

void BM_CatToDevNull(benchmark::State& state) {
  const std::string command = "cat '" + bench_file() + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
  }
  state.SetBytesProcessed(state.iterations() * file_bytes());
}

BENCHMARK(BM_CatToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ProbeWav)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(bench_file());
}
