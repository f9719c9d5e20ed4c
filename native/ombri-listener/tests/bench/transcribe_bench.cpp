// Transcription wall time: transcribe_wav next to whisper.cpp alone (model
// load, state, whisper_full on the same buffer with the same parameters, and
// release, as every request does), and our overhead. OMBRI_BENCH_MODEL and
// OMBRI_BENCH_AUDIO (any WAV file) choose a real model and
// recording; by default the tests' tiny model runs on 2.75 s of audio. Also
// what the listener's workers add: each request on a fresh thread, with and
// without giving the freed memory back after it, and the time that give-back
// takes after one transcription and after four side by side. A
// bigger generated model that also decodes in three steps, for 30 s of audio:
//   tools/make_tiny_whisper_model.py big.bin --state 384 --heads 6 --layers 4 --segment-end 29.9
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <whisper.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/give_back_memory.hpp"
#include "overhead_report.hpp"
#include "processing/transcribe.hpp"
#include "processing/transcribe_audio.hpp"
#include "tiny_whisper_model.hpp"
#include "wav/wav_writer.hpp"

namespace {

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

struct Inputs {
  std::string model = env_or("OMBRI_BENCH_MODEL", "");
  std::string audio = env_or("OMBRI_BENCH_AUDIO", "");
  std::string generated;
  std::vector<float> buffer;

  Inputs() {
    if (model.empty()) model = ombri::test::tiny_whisper_model();
    if (audio.empty()) {
      generated = "/tmp/ombri-transcribe-bench-" + std::to_string(getpid()) + ".wav";
      auto writer = ombri::WavWriter::create(generated, 1, 16000);
      for (int i = 0; i < 44000; ++i) (void)writer->write_sample(static_cast<std::int16_t>(8000 * std::sin(i * 0.05)));
      (void)writer->finalize();
      audio = generated;
    }
    if (auto read = ombri::read_wav_mono_16k(audio)) buffer = std::move(*read);
  }
  ~Inputs() {
    if (!generated.empty()) std::remove(generated.c_str());
  }
};

const Inputs& inputs() {
  static const Inputs shared;
  return shared;
}

void BM_TranscribeWav(benchmark::State& state) {
  const auto& in = inputs();
  for (auto _ : state) {
    auto result = ombri::transcribe_wav(in.model, in.audio, std::nullopt, std::nullopt);
    if (!result) state.SkipWithError(result.error().c_str());
  }
}
BENCHMARK(BM_TranscribeWav)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_WhisperAlone(benchmark::State& state) {
  const auto& in = inputs();
  const auto params = ombri::transcription_full_params(std::nullopt, std::nullopt);
  for (auto _ : state) {
    whisper_context* context =
        whisper_init_from_file_with_params_no_state(in.model.c_str(), ombri::transcription_context_params());
    whisper_state* whisper = whisper_init_state(context);
    benchmark::DoNotOptimize(
        whisper_full_with_state(context, whisper, *params, in.buffer.data(), static_cast<int>(in.buffer.size())));
    whisper_free_state(whisper);
    whisper_free(context);
  }
}
BENCHMARK(BM_WhisperAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// A fresh thread takes the arena the last one left; after a give-back what
// that arena held has to come from the system again.
void BM_TranscribeOnWorker(benchmark::State& state) {
  const auto& in = inputs();
  const bool give_back = state.range(0) != 0;
  for (auto _ : state) {
    bool ok = false;
    std::thread([&] {
      ok = ombri::transcribe_wav(in.model, in.audio, std::nullopt, std::nullopt).ok();
      if (give_back) ombri::give_back_freed_memory();
    }).join();
    if (!ok) state.SkipWithError("the transcription failed");
  }
}
BENCHMARK(BM_TranscribeOnWorker)
    ->ArgName("give_back")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

// What one give-back finds after one transcription, and after several side
// by side: the most a worker finds.
void BM_GiveBack(benchmark::State& state) {
  const auto& in = inputs();
  for (auto _ : state) {
    std::vector<std::thread> workers;
    for (int i = 0; i < state.range(0); ++i)
      workers.emplace_back([&] { (void)ombri::transcribe_wav(in.model, in.audio, std::nullopt, std::nullopt); });
    for (auto& worker : workers) worker.join();
    const auto begin = std::chrono::steady_clock::now();
    ombri::give_back_freed_memory();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
  }
}
BENCHMARK(BM_GiveBack)
    ->ArgName("side_by_side")
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(4);

}  // namespace

int main(int argc, char** argv) {
  whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr);  // keep the figures readable
  return ombri::bench::run_with_overhead(argc, argv, "BM_TranscribeWav/min_time:3.000/real_time",
                                         "BM_WhisperAlone/min_time:3.000/real_time",
                                         "transcribe_wav overhead over whisper.cpp alone", 5);
}
