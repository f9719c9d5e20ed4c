#include "wav_probe.hpp"

#include <algorithm>
#include <cmath>
#include <span>

#include "wav_reader.hpp"

namespace ombri {
namespace {

constexpr double kWindowSeconds = 0.25;
constexpr std::size_t kMaxChunkWindows = 48;
constexpr double kVoicedRms = 0.004;
constexpr float kVoicedPeak = 0.012f;
constexpr std::size_t kMinBlockSamples = std::size_t{1} << 16;
constexpr std::size_t kMaxBlockSamples = std::size_t{1} << 22;
// Whole windows summed side by side.
constexpr std::size_t kLanes = 8;

// A not-a-number stays one.
float clamp_unit(float x) { return std::min(std::max(x, -1.0f), 1.0f); }

// A sample as a value between -1 and 1: integers by a single-precision
// division, floats unchanged; both clipped.
template <class T>
struct Normaliser {
  float divisor;
  float operator()(T s) const {
    if constexpr (std::is_same_v<T, float>)
      return clamp_unit(s);
    else
      return clamp_unit(static_cast<float>(s) / divisor);
  }
};

// Adds n samples to each of `Lanes` windows; lane k's samples start at
// xs + k * stride. Every window's sum still runs in file order, but the
// lanes' additions are independent, so the processor overlaps them.
template <std::size_t Lanes>
void add_to_windows(EnergyWindow* windows, const float* xs, std::size_t stride, std::size_t n) {
  double sum[Lanes];
  float peak[Lanes];
  for (std::size_t k = 0; k < Lanes; ++k) {
    sum[k] = windows[k].sum_sq;
    peak[k] = windows[k].peak;
  }
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t k = 0; k < Lanes; ++k) {
      const float x = xs[k * stride + j];
      const double wide = x;
      sum[k] += wide * wide;
      const float a = std::fabs(x);
      // A not-a-number never replaces the peak.
      peak[k] = a > peak[k] ? a : peak[k];
    }
  }
  for (std::size_t k = 0; k < Lanes; ++k) {
    windows[k].count += n;
    windows[k].sum_sq = sum[k];
    windows[k].peak = peak[k];
  }
}

// Cuts the stream of normalised samples into windows of `window_samples`.
class WindowAccumulator {
 public:
  explicit WindowAccumulator(std::uint64_t window_samples) : window_samples_(window_samples) {}

  std::uint64_t window_samples() const { return window_samples_; }

  // A block size that ends on a window boundary whenever one fits, so that
  // every later block starts on one.
  std::size_t next_block(std::size_t capacity) const {
    const std::uint64_t to_boundary = window_samples_ - current_.count;
    if (to_boundary >= capacity) return capacity;
    return static_cast<std::size_t>(to_boundary + (capacity - to_boundary) / window_samples_ * window_samples_);
  }

  void add(const float* xs, std::size_t n) {
    const std::uint64_t w = window_samples_;
    std::size_t i = 0;
    if (current_.count > 0) {
      const auto m = static_cast<std::size_t>(std::min<std::uint64_t>(n, w - current_.count));
      add_to_windows<1>(&current_, xs, 0, m);
      i = m;
      if (current_.count == w) complete_current();
    }
    for (; n - i >= kLanes * w; i += static_cast<std::size_t>(kLanes * w)) {
      EnergyWindow group[kLanes];
      add_to_windows<kLanes>(group, xs + i, static_cast<std::size_t>(w), static_cast<std::size_t>(w));
      windows_.insert(windows_.end(), std::begin(group), std::end(group));
    }
    for (; n - i >= w; i += static_cast<std::size_t>(w)) {
      EnergyWindow one;
      add_to_windows<1>(&one, xs + i, 0, static_cast<std::size_t>(w));
      windows_.push_back(one);
    }
    if (i < n) add_to_windows<1>(&current_, xs + i, 0, n - i);
  }

  std::vector<EnergyWindow> finish() && {
    if (current_.count > 0) complete_current();
    return std::move(windows_);
  }

 private:
  void complete_current() {
    windows_.push_back(current_);
    current_ = EnergyWindow{};
  }

  std::uint64_t window_samples_;
  EnergyWindow current_;
  std::vector<EnergyWindow> windows_;
};

// Reads every sample as T, normalises it and feeds it to the windows.
template <class T>
Result<void> accumulate_file(WavReader& reader, Normaliser<T> normalise, WindowAccumulator& windows) {
  // Room for whole groups of windows, so that most windows go side by side.
  const auto capacity = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(kLanes * windows.window_samples(), kMinBlockSamples, kMaxBlockSamples));
  std::vector<T> raw(capacity);
  std::vector<float> normalised(capacity);
  while (true) {
    auto got = reader.read_samples(std::span<T>(raw.data(), windows.next_block(capacity)));
    if (!got) return ErrorText{got.error()};
    const std::size_t n = *got;
    if (n == 0) return {};
    // Groups of a fixed size let the compiler use vector instructions.
    constexpr std::size_t kGroup = 8;
    std::size_t i = 0;
    for (; i + kGroup <= n; i += kGroup)
      for (std::size_t k = 0; k < kGroup; ++k) normalised[i + k] = normalise(raw[i + k]);
    for (; i < n; ++i) normalised[i] = normalise(raw[i]);
    windows.add(normalised.data(), n);
  }
}

}  // namespace

bool is_voiced(const EnergyWindow& window) {
  if (window.count != 0 && std::sqrt(window.sum_sq / static_cast<double>(window.count)) >= kVoicedRms) return true;
  return window.peak >= kVoicedPeak;
}

std::vector<WavChunk> chunks_from_windows(const std::vector<EnergyWindow>& windows, double duration_seconds) {
  std::vector<WavChunk> chunks;
  auto emit = [&](std::size_t start, std::size_t end) {
    std::uint64_t count = 0;
    double sum = 0;
    float peak = 0;
    for (std::size_t i = start; i < end; ++i) {
      count += windows[i].count;
      sum += windows[i].sum_sq;
      peak = std::max(peak, windows[i].peak);
    }
    const double t0 = static_cast<double>(start) * kWindowSeconds;
    const double t1 = std::min(static_cast<double>(end) * kWindowSeconds, duration_seconds);
    if (count != 0 && t1 > t0) chunks.push_back(WavChunk{t0, t1, std::sqrt(sum / static_cast<double>(count)), peak});
  };

  bool open = false;
  std::size_t start = 0;
  std::size_t end = 0;  // one past the chunk's last voiced window
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (is_voiced(windows[i])) {
      if (!open) start = i;
      open = true;
      end = i + 1;
      if (end - start >= kMaxChunkWindows) {
        emit(start, end);
        open = false;
      }
    } else if (open && i + 1 - end >= 2) {
      emit(start, end);
      open = false;
    }
  }
  if (open) emit(start, end);
  return chunks;
}

Result<WavProbe> probe_wav(const std::string& path) {
  auto opened = WavReader::open(path);
  if (!opened) return ErrorText{"Failed to open WAV " + path + ": " + opened.error()};
  WavReader& reader = *opened;
  const WavFormat& format = reader.format();

  const std::uint64_t rate = format.sample_rate == 0 ? 1 : format.sample_rate;
  // rate / 4, halves rounded up.
  const std::uint64_t window_frames = std::max<std::uint64_t>((rate + 2) / 4, 1);
  WavProbe probe;
  probe.duration_seconds =
      static_cast<double>(reader.total_samples() / format.channels) / static_cast<double>(rate);

  WindowAccumulator accumulator(window_frames * format.channels);
  Result<void> read;
  const char* lead_in;
  if (format.sample_format == WavSampleFormat::ieee_float) {
    lead_in = "Failed to read float WAV sample ";
    read = accumulate_file<float>(reader, {1.0f}, accumulator);
  } else if (format.bits_per_sample <= 16) {
    lead_in = "Failed to read int WAV sample ";
    read = accumulate_file<std::int16_t>(reader, {32767.0f}, accumulator);
  } else {
    lead_in = "Failed to read wide WAV sample ";
    const unsigned c = std::min<unsigned>(format.bits_per_sample, 31);
    const auto divisor = static_cast<float>((std::uint32_t{1} << (c - 1)) - 1);
    read = accumulate_file<std::int32_t>(reader, {divisor}, accumulator);
  }
  if (!read) return ErrorText{lead_in + path + ": " + read.error()};

  const std::vector<EnergyWindow> windows = std::move(accumulator).finish();
  for (const EnergyWindow& window : windows) probe.peak = std::max(probe.peak, window.peak);
  probe.chunks = chunks_from_windows(windows, probe.duration_seconds);
  return probe;
}

}  // namespace ombri
