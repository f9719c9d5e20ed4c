#include "wav/wav_writer.hpp"

#include <unistd.h>

#include <algorithm>

namespace ombri {
namespace {

constexpr std::uint32_t kPlainHeaderBytes = 44;
constexpr std::uint32_t kExtensibleHeaderBytes = 68;

void put_u16(std::vector<unsigned char>& out, std::uint16_t v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}

void put_u32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void put_tag(std::vector<unsigned char>& out, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(tag[i]));
}

std::uint32_t header_bytes_for(std::uint16_t channels) {
  return channels > 2 ? kExtensibleHeaderBytes : kPlainHeaderBytes;
}

// The sizes of a file of `data_bytes` sample bytes, into a header made by make_header.
void set_sizes(std::vector<unsigned char>& header, std::uint64_t data_bytes) {
  const auto data_size = static_cast<std::uint32_t>(data_bytes);
  const auto riff_size = static_cast<std::uint32_t>(header.size() - 8 + data_size);
  for (int i = 0; i < 4; ++i) {
    header[4 + i] = static_cast<unsigned char>(riff_size >> (8 * i));
    header[header.size() - 4 + i] = static_cast<unsigned char>(data_size >> (8 * i));
  }
}

// The header of a file with no samples yet, already a valid empty WAV.
std::vector<unsigned char> make_header(std::uint16_t channels, std::uint32_t sample_rate) {
  const std::uint16_t block_align = static_cast<std::uint16_t>(channels * 2u);
  std::vector<unsigned char> h;
  put_tag(h, "RIFF");
  put_u32(h, 0);
  put_tag(h, "WAVE");
  put_tag(h, "fmt ");
  const bool extensible = channels > 2;
  put_u32(h, extensible ? 40 : 16);
  put_u16(h, extensible ? 0xFFFE : 1);
  put_u16(h, channels);
  put_u32(h, sample_rate);
  put_u32(h, static_cast<std::uint32_t>(std::uint64_t{sample_rate} * block_align));
  put_u16(h, block_align);
  put_u16(h, 16);
  if (extensible) {
    put_u16(h, 22);
    put_u16(h, 16);
    const unsigned mask_bits = std::min<unsigned>(channels, 18);
    put_u32(h, static_cast<std::uint32_t>((std::uint64_t{1} << mask_bits) - 1));
    static constexpr unsigned char kPcmSubformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    h.insert(h.end(), std::begin(kPcmSubformat), std::end(kPcmSubformat));
  }
  put_tag(h, "data");
  put_u32(h, 0);
  set_sizes(h, 0);
  return h;
}

}  // namespace

std::uint64_t WavWriter::max_data_bytes(std::uint16_t channels) {
  return std::numeric_limits<std::uint32_t>::max() - (header_bytes_for(channels) - 8);
}

Result<WavWriter> WavWriter::create(const std::string& path, std::uint16_t channels, std::uint32_t sample_rate,
                                    std::optional<std::uint64_t> data_limit) {
  if (channels == 0) return ErrorText{"A WAV file needs at least one channel."};
  auto staged = StagedFile::create(path, "wav");
  if (!staged) return ErrorText{staged.error()};
  auto writer = create(*staged, channels, sample_rate, data_limit);
  if (!writer) return writer;
  if (auto committed = staged->commit(); !committed) return ErrorText{committed.error()};
  return writer;
}

Result<WavWriter> WavWriter::create(const StagedFile& file, std::uint16_t channels, std::uint32_t sample_rate,
                                    std::optional<std::uint64_t> data_limit) {
  if (channels == 0) return ErrorText{"A WAV file needs at least one channel."};
  auto fd = file.duplicate_fd();
  if (!fd) return ErrorText{fd.error()};
  auto header = make_header(channels, sample_rate);
  std::size_t done;
  if (auto written = write_all(fd->get(), header.data(), header.size(), done); !written)
    return ErrorText{written.error()};
  // Whole frames only, so that a full file still finalises without a cut frame.
  const std::uint64_t frame_bytes = std::uint64_t{channels} * 2;
  std::uint64_t limit = std::min(data_limit.value_or(max_data_bytes(channels)), max_data_bytes(channels));
  limit -= limit % frame_bytes;
  return WavWriter(std::move(*fd), channels, std::move(header), limit);
}

WavWriter::WavWriter(UniqueFd fd, std::uint16_t channels, std::vector<unsigned char> header, std::uint64_t data_limit)
    : fd_(std::move(fd)), channels_(channels), header_(std::move(header)), data_limit_(data_limit) {
  buffer_.reserve(kBufferBytes);
}

WavWriter::~WavWriter() {
  if (!fd_) return;
  if (!finalized_) {
    (void)flush_buffer();
    (void)write_sizes(data_bytes_);
  }
}

Result<void> WavWriter::write_sample(std::int16_t sample) {
  if (data_bytes_ + 2 > data_limit_) return ErrorText{"The WAV data would pass the 4 GiB limit of its size fields."};
  if (skip_bytes_ > 0) {
    skip_bytes_ -= 2;
    return {};
  }
  const auto bits = static_cast<std::uint16_t>(sample);
  buffer_.push_back(static_cast<unsigned char>(bits));
  buffer_.push_back(static_cast<unsigned char>(bits >> 8));
  data_bytes_ += 2;
  if (buffer_.size() < kBufferBytes) return {};
  auto flushed = flush_buffer();
  // A recording killed before its end keeps all but the buffer it held. An
  // error here leaves the older sizes, which still describe bytes on disk.
  (void)write_sizes(whole_frames(data_bytes_));
  return flushed;
}

std::uint64_t WavWriter::frame_bytes() const { return std::uint64_t{channels_} * 2; }

std::uint64_t WavWriter::whole_frames(std::uint64_t bytes) const { return bytes - bytes % frame_bytes(); }

// Bytes that never reached the file are not counted. A write that fails
// inside a frame (a full disk takes part of a buffer) also gives up the
// part of that frame on disk and the rest of it still to come, so writing
// resumes on a whole frame: after the gap every channel keeps its place.
Result<void> WavWriter::flush_buffer() {
  const std::uint64_t on_disk = data_bytes_ - buffer_.size();
  std::size_t done;
  auto written =
      write_all_at(fd_.get(), buffer_.data(), buffer_.size(), static_cast<off_t>(header_.size() + on_disk), done);
  buffer_.clear();
  if (written) return written;
  const std::uint64_t next_in_frame = data_bytes_ % frame_bytes();
  skip_bytes_ = (frame_bytes() - next_in_frame) % frame_bytes();
  data_bytes_ = whole_frames(on_disk + done);
  // The bytes given up go, so no part of a frame lies past the data.
  (void)::ftruncate(fd_.get(), static_cast<off_t>(header_.size() + data_bytes_));
  return written;
}

// Both sizes in one write of the header from the RIFF size on, so a kill
// never leaves a new size beside an old one.
Result<void> WavWriter::write_sizes(std::uint64_t data_bytes) {
  set_sizes(header_, data_bytes);
  std::size_t done;
  return write_all_at(fd_.get(), header_.data() + 4, header_.size() - 4, 4, done);
}

Result<void> WavWriter::finalize() {
  finalized_ = true;
  // The sizes go out even after a failed flush: they count only what reached the file.
  const auto flushed = flush_buffer();
  const auto sized = write_sizes(data_bytes_);
  if (!flushed) return flushed;
  if (!sized) return sized;
  // A frame still being given up counts as the caller's incomplete one.
  if (data_bytes_ % frame_bytes() != 0 || skip_bytes_ != 0)
    return ErrorText{"The number of samples written is not a multiple of the number of channels."};
  return flush_buffer();
}

SharedWavWriter share_wav_writer(WavWriter writer) {
  writer.mark_as_recording();
  return std::make_shared<PoisonMutex<std::optional<WavWriter>>>(std::optional<WavWriter>(std::move(writer)));
}

}  // namespace ombri
