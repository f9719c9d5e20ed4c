// afplay [-v VOLUME] FILE: checks its arguments and the WAV file, then takes
// as long as playing the file would and exits 0. When OMBRI_SIM_AFPLAY_LOG
// names a file, each run appends its arguments there as one tab-separated line.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "wav/wav_reader.hpp"

namespace {

int usage() {
  std::fputs("usage: afplay [-v volume] audio_file\n", stderr);
  return 1;
}

void log_arguments(int argc, char** argv) {
  const char* log = std::getenv("OMBRI_SIM_AFPLAY_LOG");
  if (!log || !*log) return;
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? "\t" : "") + std::string(argv[i]);
  line += "\n";
  if (std::FILE* file = std::fopen(log, "a")) {
    std::fputs(line.c_str(), file);
    std::fclose(file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  log_arguments(argc, argv);
  int next = 1;
  if (next < argc && std::strcmp(argv[next], "-v") == 0) {
    if (next + 1 >= argc) return usage();
    char* end = nullptr;
    const double volume = std::strtod(argv[next + 1], &end);
    if (end == argv[next + 1] || *end != '\0' || !std::isfinite(volume) || volume < 0.0) {
      std::fprintf(stderr, "afplay: invalid volume %s\n", argv[next + 1]);
      return 1;
    }
    next += 2;
  }
  if (next + 1 != argc) return usage();
  auto wav = ombri::WavReader::open(argv[next]);
  if (!wav) {
    std::fprintf(stderr, "afplay: %s: %s\n", argv[next], wav.error().c_str());
    return 1;
  }
  const ombri::WavFormat& format = wav->format();
  if (format.sample_rate == 0) {
    std::fprintf(stderr, "afplay: %s: no sample rate\n", argv[next]);
    return 1;
  }
  const double frames = static_cast<double>(wav->total_samples() / format.channels);
  std::this_thread::sleep_for(std::chrono::duration<double>(frames / format.sample_rate));
  return 0;
}
