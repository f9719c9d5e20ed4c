#pragma once
// The one WAV form the listener writes: RIFF/WAVE, signed 16-bit
// little-endian PCM, channels interleaved. The file exists with a complete
// header from creation on; its sizes are filled in when finalised or released,
// and kept current while it grows (whole frames, at the first flush after each
// second of audio), so a process that dies mid-recording leaves a readable file.

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/poison_mutex.hpp"
#include "base/result.hpp"
#include "base/unique_fd.hpp"

namespace ombri {

class WavWriter {
 public:
  static constexpr std::size_t kBufferBytes = 8192;
  // Largest data size whose RIFF size still fits the 32-bit field.
  static std::uint64_t max_data_bytes(std::uint16_t channels);

  // Creates or truncates `path` (mode 0666 before umask) and writes the header.
  // `data_limit` caps the sample bytes (rounded down to whole frames); tests make it small.
  static Result<WavWriter> create(const std::string& path, std::uint16_t channels, std::uint32_t sample_rate,
                                  std::optional<std::uint64_t> data_limit = std::nullopt);
  // The same on a file already open for writing and empty, which it takes over.
  static Result<WavWriter> create(UniqueFd file, std::uint16_t channels, std::uint32_t sample_rate,
                                  std::optional<std::uint64_t> data_limit = std::nullopt);

  WavWriter(WavWriter&&) noexcept = default;
  WavWriter& operator=(WavWriter&&) = delete;
  // Released without finalize(): completes the header, ignoring every error.
  ~WavWriter();

  // Refuses a sample that would push the data past the 32-bit size fields.
  Result<void> write_sample(std::int16_t sample);
  Result<void> finalize();

  std::uint64_t samples_written() const { return data_bytes_ / 2; }

 private:
  WavWriter(UniqueFd fd, std::uint16_t channels, std::uint64_t bytes_per_second, std::uint32_t header_bytes,
            std::uint64_t data_limit);
  Result<void> flush_buffer();
  Result<void> write_sizes(std::uint64_t data_bytes);
  std::uint64_t whole_frames(std::uint64_t bytes) const;

  UniqueFd fd_;
  std::uint16_t channels_ = 0;
  std::uint64_t bytes_per_second_ = 1;
  std::uint32_t header_bytes_ = 0;
  std::uint64_t data_limit_ = 0;
  std::uint64_t data_bytes_ = 0;
  std::uint64_t sized_bytes_ = 0;  // the data size the header last got
  bool finalized_ = false;
  std::vector<unsigned char> buffer_;
};

// A writer shared by the thread that writes it and the owner that finalises
// it; the slot is empty once the owner has taken the writer out.
using SharedWavWriter = std::shared_ptr<PoisonMutex<std::optional<WavWriter>>>;

SharedWavWriter share_wav_writer(WavWriter writer);

}  // namespace ombri
