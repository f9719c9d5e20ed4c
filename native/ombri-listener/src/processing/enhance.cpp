#include "processing/enhance.hpp"

#include <rnnoise.h>

#include <array>
#include <memory>
#include <string_view>

#include "base/path_status.hpp"
#include "base/staged_file.hpp"
#include "base/utf8.hpp"
#include "processing/enhance_framing.hpp"
#include "processing/enhance_output.hpp"
#include "wav/wav_reader.hpp"
#include "wav/wav_writer.hpp"

namespace ombri {
namespace {

constexpr std::size_t kIoBufferBytes = 8192;
constexpr std::uint32_t kOutputRate = 48000;

using DenoiserState = std::unique_ptr<DenoiseState, decltype(&rnnoise_destroy)>;

// One file's way through the denoiser: frames in, 16-bit samples out.
class DenoisePipeline {
 public:
  DenoisePipeline(StagedFile output, WavWriter writer, std::uint32_t input_rate)
      : output_(std::move(output)),
        writer_(std::move(writer)),
        denoiser_(rnnoise_create(nullptr), &rnnoise_destroy),
        upsampler_(input_rate) {}

  Result<void> push_sample(float x) {
    return upsampler_.push_sample(x, [this](FrameUpsampler::Frame frame) { return denoise_and_write(frame); });
  }

  // The zero-filled last frame; the denoiser's own history is not flushed.
  Result<void> finish() {
    return upsampler_.finish([this](FrameUpsampler::Frame frame) { return denoise_and_write(frame); });
  }

  // Completes the file and only then puts it in place of `destination`.
  Result<void> finalize(const std::string& destination) {
    if (auto done = writer_.finalize(); !done) return ErrorText{"finalize failed: " + done.error()};
    if (auto free = refuse_recording(destination); !free) return free;
    if (auto done = output_.commit(); !done) return ErrorText{"finalize failed: " + done.error()};
    return {};
  }

  std::uint64_t frames() const { return frames_; }
  double vad_mean() const { return frames_ == 0 ? 0.0 : vad_sum_ / static_cast<double>(frames_); }

 private:
  Result<void> denoise_and_write(FrameUpsampler::Frame frame) {
    const float probability = rnnoise_process_frame(denoiser_.get(), denoised_.data(), frame.data());
    vad_sum_ += static_cast<double>(probability);
    ++frames_;
    for (const float y : denoised_)
      if (auto written = writer_.write_sample(clamp_to_pcm16(y)); !written)
        return ErrorText{"write failed: " + written.error()};
    return {};
  }

  StagedFile output_;  // removed when the pipeline ends without finalize()
  WavWriter writer_;
  DenoiserState denoiser_;
  FrameUpsampler upsampler_;
  std::array<float, FrameUpsampler::kFrameSamples> denoised_{};
  std::uint64_t frames_ = 0;
  double vad_sum_ = 0.0;
};

// Reads the input frame by frame, each frame mixed down to its mean in
// 16-bit scale; a partial frame at the end is dropped. Returns the number of
// complete frames.
template <class Sample, class ToScale>
Result<std::uint64_t> stream_frames(WavReader& reader, DenoisePipeline& pipeline, ToScale to_16bit_scale) {
  const unsigned channels = reader.format().channels;
  const auto divisor = static_cast<float>(channels);
  std::uint64_t complete = 0;
  for (;;) {
    float sum = 0.0f;
    for (unsigned c = 0; c < channels; ++c) {
      Sample sample{};
      switch (reader.read(sample)) {
        case WavRead::sample:
          sum += to_16bit_scale(sample);
          break;
        case WavRead::end:
          return complete;
        case WavRead::error:
          return ErrorText{"read failed: " + reader.error()};
      }
    }
    if (auto pushed = pipeline.push_sample(sum / divisor); !pushed) return ErrorText{pushed.error()};
    ++complete;
  }
}

}  // namespace

Result<EnhanceSummary> enhance_wav(const std::string& input, const std::string& output) {
  // A FIFO would block the worker for ever, /dev/stdin read the listener's
  // own requests. A path that cannot be looked at is left to the open.
  const auto source = path_status(input);
  if (!source) return ErrorText{"could not open input: " + source.error()};
  if (*source && is_special_file(**source)) return ErrorText{"input is not a regular file"};
  auto reader = WavReader::open(input, kIoBufferBytes);
  if (!reader) return ErrorText{"could not open input: " + reader.error()};
  const WavFormat format = reader->format();
  if (format.sample_rate == 0) return ErrorText{"input has an invalid sample rate"};
  const auto destination = enhance_destination(*source, output);
  if (!destination) return ErrorText{destination.error()};

  // Written beside the destination and renamed over it once complete: it
  // never holds a partial file, whether the call fails, the process ends
  // midway or another request writes the same output meanwhile.
  auto staged = StagedFile::create(*destination, "enhance");
  if (!staged) return ErrorText{"could not open output: " + staged.error()};
  auto writer = WavWriter::create(*staged, 1, kOutputRate);
  if (!writer) return ErrorText{"could not open output: " + writer.error()};
  DenoisePipeline pipeline(std::move(*staged), std::move(*writer), format.sample_rate);

  const auto complete =
      format.sample_format == WavSampleFormat::ieee_float
          ? stream_frames<float>(*reader, pipeline, float_to_16bit_scale)
          : stream_frames<std::int32_t>(*reader, pipeline, [bits = format.bits_per_sample](std::int32_t v) {
              return integer_to_16bit_scale(v, bits);
            });
  if (!complete) return ErrorText{complete.error()};
  if (auto finished = pipeline.finish(); !finished) return ErrorText{finished.error()};
  if (auto finalized = pipeline.finalize(*destination); !finalized) return ErrorText{finalized.error()};

  return EnhanceSummary{output, static_cast<double>(*complete) / static_cast<double>(format.sample_rate),
                        pipeline.frames(), pipeline.vad_mean()};
}

std::string default_output_path(const std::string& input) {
  std::string_view path = input;
  // Trailing separators do not count: "dir/take.wav/" names "take.wav".
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);

  const auto slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  // The root alone has neither a name nor a parent.
  std::string_view parent =
      slash == std::string_view::npos || name.empty() ? std::string_view{} : path.substr(0, slash + 1);
  while (parent.size() > 1 && parent.back() == '/') parent.remove_suffix(1);

  std::string_view stem = "audio";
  if (!name.empty() && name != "." && name != "..") {
    // A dot that leads the name starts no extension: ".take" is all stem.
    const auto dot = name.rfind('.');
    const std::string_view candidate = dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
    if (is_valid_utf8(candidate)) stem = candidate;
  }

  std::string result;
  if (!parent.empty()) {
    result.append(parent);
    if (result.back() != '/') result.push_back('/');
  }
  result.append(stem);
  result.append("-enhanced.wav");
  return to_utf8_lossy(result);
}

}  // namespace ombri
