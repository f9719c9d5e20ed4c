#pragma once
// The one WAV form the listener writes: RIFF/WAVE, signed 16-bit
// little-endian PCM, channels interleaved. The file is a well-formed WAV from
// the moment it has its name: its sizes describe the whole frames on disk at
// every flush of the buffer, and all of them when finalised or released, so a
// process that dies mid-recording loses at most what the buffer holds.

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/poison_mutex.hpp"
#include "base/result.hpp"
#include "base/staged_file.hpp"
#include "base/unique_fd.hpp"
#include "wav/recordings_in_progress.hpp"

namespace ombri {

class WavWriter {
 public:
  static constexpr std::size_t kBufferBytes = 8192;
  // Largest data size whose RIFF size still fits the 32-bit field.
  static std::uint64_t max_data_bytes(std::uint16_t channels);

  // Writes the header into a new file (mode 0666 before umask) under a
  // temporary name beside `path` and renames it over `path`: whatever had that
  // name (a file, a FIFO, a link) is replaced, never opened or followed, and a
  // failure leaves neither name behind. `data_limit` caps the sample bytes
  // (rounded down to whole frames); tests make it small.
  static Result<WavWriter> create(const std::string& path, std::uint16_t channels, std::uint32_t sample_rate,
                                  std::optional<std::uint64_t> data_limit = std::nullopt);
  // Writes the header into a staged file that is still empty; the writer
  // writes through a descriptor of its own, and the owner commits the file.
  static Result<WavWriter> create(const StagedFile& file, std::uint16_t channels, std::uint32_t sample_rate,
                                  std::optional<std::uint64_t> data_limit = std::nullopt);

  WavWriter(WavWriter&&) noexcept = default;
  WavWriter& operator=(WavWriter&&) = delete;
  // Released without finalize(): completes the header, ignoring every error.
  ~WavWriter();

  // Refuses a sample that would push the data past the 32-bit size fields.
  Result<void> write_sample(std::int16_t sample);
  Result<void> finalize();

  std::uint64_t samples_written() const { return data_bytes_ / 2; }

  // Its file counts as a recording in progress until the writer is released.
  void mark_as_recording() { recording_.emplace(fd_.get()); }

 private:
  WavWriter(UniqueFd fd, std::uint16_t channels, std::vector<unsigned char> header, std::uint64_t data_limit);
  Result<void> flush_buffer();
  Result<void> write_sizes(std::uint64_t data_bytes);
  std::uint64_t frame_bytes() const;
  std::uint64_t whole_frames(std::uint64_t bytes) const;

  UniqueFd fd_;
  std::uint16_t channels_ = 0;
  std::vector<unsigned char> header_;  // as on disk, sizes included
  std::uint64_t data_limit_ = 0;
  std::uint64_t data_bytes_ = 0;  // on disk and in the buffer
  std::uint64_t skip_bytes_ = 0;  // of a frame given up after a failed write
  bool finalized_ = false;
  std::vector<unsigned char> buffer_;
  std::optional<RecordingInProgress> recording_;
};

// A writer shared by the thread that writes it and the owner that finalises
// it; the slot is empty once the owner has taken the writer out.
using SharedWavWriter = std::shared_ptr<PoisonMutex<std::optional<WavWriter>>>;

// Such a writer is a recording's: it is marked as a recording in progress.
SharedWavWriter share_wav_writer(WavWriter writer);

}  // namespace ombri
