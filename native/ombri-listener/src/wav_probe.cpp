#include "wav_probe.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <type_traits>

// OMBRI_PORTABLE_PROBE leaves out the AVX2 path, so that the portable one,
// which processors without AVX2 run, can be tested on any machine.
#if defined(__x86_64__) && !defined(OMBRI_PORTABLE_PROBE)
#define OMBRI_PROBE_AVX2
#include <immintrin.h>
#endif

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
template <std::size_t Lanes, class T>
void add_to_windows(EnergyWindow* windows, const T* xs, std::size_t stride, std::size_t n, Normaliser<T> normalise) {
  double sum[Lanes];
  float peak[Lanes];
  for (std::size_t k = 0; k < Lanes; ++k) {
    sum[k] = windows[k].sum_sq;
    peak[k] = windows[k].peak;
  }
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t k = 0; k < Lanes; ++k) {
      const float x = normalise(xs[k * stride + j]);
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

#ifdef OMBRI_PROBE_AVX2
#define OMBRI_AVX2 __attribute__((target("avx2")))

// Eight samples of one window as normalised floats, as Normaliser gives them.
template <class T>
OMBRI_AVX2 __m256 normalise8(const T* p, __m256 divisor) {
  __m256 x;
  if constexpr (std::is_same_v<T, float>) {
    x = _mm256_loadu_ps(p);
  } else {
    __m256i wide;
    if constexpr (std::is_same_v<T, std::int16_t>)
      wide = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    else
      wide = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    x = _mm256_div_ps(_mm256_cvtepi32_ps(wide), divisor);
  }
  // The operand order keeps a not-a-number, as clamp_unit does.
  return _mm256_min_ps(_mm256_set1_ps(1.0f), _mm256_max_ps(_mm256_set1_ps(-1.0f), x));
}

// add_to_windows<kLanes> with AVX2: two sets of four windows, each set's
// sums in one register of four doubles. Eight samples of each window are
// loaded side by side and transposed, so that a register adds one sample of
// each of its windows at a time, in file order.
template <class T>
OMBRI_AVX2 void add_to_group_avx2(EnergyWindow* windows, const T* xs, std::size_t stride, std::size_t n,
                                  Normaliser<T> normalise) {
  constexpr std::size_t kSets = kLanes / 4;
  const __m256 divisor = _mm256_set1_ps(normalise.divisor);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  __m256d sum[kSets];
  __m256 peak[kSets];  // lane i and i + 4 both for window i of the set
  for (std::size_t s = 0; s < kSets; ++s) {
    const EnergyWindow* w = windows + 4 * s;
    sum[s] = _mm256_setr_pd(w[0].sum_sq, w[1].sum_sq, w[2].sum_sq, w[3].sum_sq);
    peak[s] = _mm256_setr_ps(w[0].peak, w[1].peak, w[2].peak, w[3].peak, w[0].peak, w[1].peak, w[2].peak, w[3].peak);
  }
  const std::size_t whole = n / 8 * 8;
  for (std::size_t j = 0; j < whole; j += 8) {
    for (std::size_t s = 0; s < kSets; ++s) {
      const T* p = xs + 4 * s * stride + j;
      const __m256 r0 = normalise8(p, divisor);
      const __m256 r1 = normalise8(p + stride, divisor);
      const __m256 r2 = normalise8(p + 2 * stride, divisor);
      const __m256 r3 = normalise8(p + 3 * stride, divisor);
      // Within each 128-bit half: column i = sample i (or i + 4) of windows 0-3.
      const __m256 lo01 = _mm256_unpacklo_ps(r0, r1), hi01 = _mm256_unpackhi_ps(r0, r1);
      const __m256 lo23 = _mm256_unpacklo_ps(r2, r3), hi23 = _mm256_unpackhi_ps(r2, r3);
      const __m256 c[4] = {_mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(lo01), _mm256_castps_pd(lo23))),
                           _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(lo01), _mm256_castps_pd(lo23))),
                           _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(hi01), _mm256_castps_pd(hi23))),
                           _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(hi01), _mm256_castps_pd(hi23)))};
      for (int half = 0; half < 2; ++half) {
        for (const __m256 column : c) {
          const __m128 four = half == 0 ? _mm256_castps256_ps128(column) : _mm256_extractf128_ps(column, 1);
          const __m256d x = _mm256_cvtps_pd(four);
          sum[s] = _mm256_add_pd(sum[s], _mm256_mul_pd(x, x));
        }
      }
      // A not-a-number in the first operand leaves the peak alone.
      for (const __m256 column : c) peak[s] = _mm256_max_ps(_mm256_and_ps(column, magnitude), peak[s]);
    }
  }
  for (std::size_t s = 0; s < kSets; ++s) {
    alignas(32) double sums[4];
    alignas(32) float peaks[8];
    _mm256_store_pd(sums, sum[s]);
    _mm256_store_ps(peaks, peak[s]);
    for (std::size_t k = 0; k < 4; ++k) {
      EnergyWindow& w = windows[4 * s + k];
      w.count += whole;
      w.sum_sq = sums[k];
      w.peak = std::max(peaks[k], peaks[k + 4]);
    }
  }
  for (std::size_t k = 0; k < kLanes; ++k)
    add_to_windows<1>(windows + k, xs + k * stride + whole, 0, n - whole, normalise);
}

bool have_avx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

// add_to_windows<kLanes>, with AVX2 where the processor has it.
template <class T>
void add_to_group(EnergyWindow* windows, const T* xs, std::size_t stride, std::size_t n, Normaliser<T> normalise) {
#ifdef OMBRI_PROBE_AVX2
  if (have_avx2()) {
    add_to_group_avx2(windows, xs, stride, n, normalise);
    return;
  }
#endif
  add_to_windows<kLanes>(windows, xs, stride, n, normalise);
}

// Cuts the stream of samples into windows of `window_samples`.
template <class T>
class WindowAccumulator {
 public:
  WindowAccumulator(std::uint64_t window_samples, Normaliser<T> normalise)
      : window_samples_(window_samples), normalise_(normalise) {}

  // A block size that ends on a window boundary whenever one fits, so that
  // every later block starts on one.
  std::size_t next_block(std::size_t capacity) const {
    const std::uint64_t to_boundary = window_samples_ - current_.count;
    if (to_boundary >= capacity) return capacity;
    return static_cast<std::size_t>(to_boundary + (capacity - to_boundary) / window_samples_ * window_samples_);
  }

  void add(const T* xs, std::size_t n) {
    const std::uint64_t w = window_samples_;
    std::size_t i = 0;
    if (current_.count > 0) {
      const auto m = static_cast<std::size_t>(std::min<std::uint64_t>(n, w - current_.count));
      add_to_windows<1>(&current_, xs, 0, m, normalise_);
      i = m;
      if (current_.count == w) complete_current();
    }
    for (; n - i >= kLanes * w; i += static_cast<std::size_t>(kLanes * w)) {
      EnergyWindow group[kLanes];
      add_to_group(group, xs + i, static_cast<std::size_t>(w), static_cast<std::size_t>(w), normalise_);
      windows_.insert(windows_.end(), std::begin(group), std::end(group));
    }
    for (; n - i >= w; i += static_cast<std::size_t>(w)) {
      EnergyWindow one;
      add_to_windows<1>(&one, xs + i, 0, static_cast<std::size_t>(w), normalise_);
      windows_.push_back(one);
    }
    if (i < n) add_to_windows<1>(&current_, xs + i, 0, n - i, normalise_);
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
  Normaliser<T> normalise_;
  EnergyWindow current_;
  std::vector<EnergyWindow> windows_;
};

// Reads every sample as T and feeds it to windows of `window_samples`.
template <class T>
Result<std::vector<EnergyWindow>> windows_of_file(WavReader& reader, std::uint64_t window_samples,
                                                  Normaliser<T> normalise) {
  WindowAccumulator<T> windows(window_samples, normalise);
  // Room for whole groups of windows, so that most windows go side by side.
  const auto capacity =
      static_cast<std::size_t>(std::clamp<std::uint64_t>(kLanes * window_samples, kMinBlockSamples, kMaxBlockSamples));
  std::vector<T> raw(capacity);
  while (true) {
    auto got = reader.read_samples(std::span<T>(raw.data(), windows.next_block(capacity)));
    if (!got) return ErrorText{got.error()};
    if (*got == 0) return std::move(windows).finish();
    windows.add(raw.data(), *got);
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
  probe.duration_seconds = static_cast<double>(reader.total_samples() / format.channels) / static_cast<double>(rate);

  const std::uint64_t window_samples = window_frames * format.channels;
  const char* lead_in;
  auto read = [&]() -> Result<std::vector<EnergyWindow>> {
    if (format.sample_format == WavSampleFormat::ieee_float) {
      lead_in = "Failed to read float WAV sample ";
      return windows_of_file<float>(reader, window_samples, {1.0f});
    }
    if (format.bits_per_sample <= 16) {
      lead_in = "Failed to read int WAV sample ";
      return windows_of_file<std::int16_t>(reader, window_samples, {32767.0f});
    }
    lead_in = "Failed to read wide WAV sample ";
    const unsigned c = std::min<unsigned>(format.bits_per_sample, 31);
    const auto divisor = static_cast<float>((std::uint32_t{1} << (c - 1)) - 1);
    return windows_of_file<std::int32_t>(reader, window_samples, {divisor});
  }();
  if (!read) return ErrorText{lead_in + path + ": " + read.error()};

  const std::vector<EnergyWindow>& windows = *read;
  for (const EnergyWindow& window : windows) probe.peak = std::max(probe.peak, window.peak);
  probe.chunks = chunks_from_windows(windows, probe.duration_seconds);
  return probe;
}

}  // namespace ombri
