#include "wav/wav_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <utility>

#include "base/os_error.hpp"

namespace ombri {
namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatIeeeFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// What follows the format tag in the sub-format GUID of an extensible header.
constexpr unsigned char kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::size_t kPlainFmtBytes = 16;
constexpr std::size_t kExtensibleFmtBytes = 40;

constexpr const char* kUnsupported = "The wave format of the file is not supported.";
constexpr const char* kTooWide = "The sample has more bits than the destination type.";
constexpr const char* kShortRead = "Failed to read enough bytes.";

ErrorText ill_formed(const char* reason) { return ErrorText{std::string("Ill-formed WAVE file: ") + reason}; }

std::uint16_t u16_at(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t u32_at(const unsigned char* p) {
  return static_cast<std::uint32_t>(u16_at(p)) | static_cast<std::uint32_t>(u16_at(p + 2)) << 16;
}

bool tag_is(const unsigned char* p, const char (&tag)[5]) { return std::memcmp(p, tag, 4) == 0; }

}  // namespace

Result<WavReader> WavReader::open(const std::string& path, std::size_t buffer_bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ErrorText{os_error_text(errno)};
  WavReader reader(fd, std::max(buffer_bytes, kExtensibleFmtBytes));
  if (auto header = reader.read_header(); !header) return ErrorText{header.error()};
  return reader;
}

WavReader::WavReader(int fd, std::size_t buffer_bytes)
    : fd_(fd), buffer_(new unsigned char[buffer_bytes]), capacity_(buffer_bytes) {
  next_ = end_ = buffer_.get();
}

bool WavReader::fill(std::size_t bytes) {
  std::size_t have = static_cast<std::size_t>(end_ - next_);
  if (have >= bytes) return true;
  unsigned char* start = buffer_.get();
  std::memmove(start, next_, have);
  next_ = start;
  end_ = start + have;
  while (have < bytes) {
    const std::size_t n = read_into(start + have, capacity_ - have);
    if (n == 0) return false;
    have += n;
    end_ = start + have;
  }
  return true;
}

std::size_t WavReader::read_into(unsigned char* dest, std::size_t bytes) {
  const auto n = read_some(fd_.get(), dest, bytes);
  if (!n)
    fail(n.error());
  else if (*n == 0)
    fail(kShortRead);
  return n ? *n : 0;
}

bool WavReader::read_bytes(unsigned char* dest, std::size_t bytes) {
  const std::size_t buffered = std::min(bytes, static_cast<std::size_t>(end_ - next_));
  std::memcpy(dest, next_, buffered);
  next_ += buffered;
  std::size_t done = buffered;
  // Large transfers skip the buffer and its extra copy.
  while (bytes - done >= capacity_) {
    const std::size_t n = read_into(dest + done, bytes - done);
    if (n == 0) return false;
    done += n;
  }
  if (done == bytes) return true;
  if (!fill(bytes - done)) return false;
  std::memcpy(dest + done, next_, bytes - done);
  next_ += bytes - done;
  return true;
}

Result<void> WavReader::skip(std::uint64_t bytes) {
  const std::size_t buffered = static_cast<std::size_t>(end_ - next_);
  if (bytes <= buffered) {
    next_ += bytes;
    return {};
  }
  const std::uint64_t beyond = bytes - buffered;
  next_ = end_ = buffer_.get();
  if (::lseek(fd_.get(), static_cast<off_t>(beyond), SEEK_CUR) < 0) return ErrorText{os_error_text(errno)};
  return {};
}

Result<void> WavReader::read_header() {
  if (!fill(4)) return ErrorText{error_};
  if (!tag_is(next_, "RIFF")) return ill_formed("no RIFF tag found");
  if (!fill(12)) return ErrorText{error_};
  if (!tag_is(next_ + 8, "WAVE")) return ill_formed("no WAVE tag found");
  next_ += 12;

  bool have_fmt = false;
  while (true) {
    // A file that ends between chunks simply lacks the one still missing.
    if (end_ == next_ && !fill(1)) {
      if (error_ != kShortRead) return ErrorText{error_};
      return ill_formed(have_fmt ? "missing data chunk" : "missing fmt chunk");
    }
    if (!fill(8)) return ErrorText{error_};
    const unsigned char* chunk = next_;
    const std::uint32_t size = u32_at(chunk + 4);
    next_ += 8;

    if (tag_is(chunk, "fmt ")) {
      if (size < kPlainFmtBytes) return ill_formed("invalid fmt chunk size");
      const std::size_t parsed = std::min<std::size_t>(size, kExtensibleFmtBytes);
      if (!fill(parsed)) return ErrorText{error_};
      const unsigned char* f = next_;
      std::uint16_t tag = u16_at(f);
      format_.channels = u16_at(f + 2);
      format_.sample_rate = u32_at(f + 4);
      const std::uint16_t block_align = u16_at(f + 12);
      const std::uint16_t container_bits = u16_at(f + 14);
      std::uint16_t bits = container_bits;
      if (tag == kFormatExtensible) {
        if (size < kExtensibleFmtBytes || u16_at(f + 16) < kExtensibleFmtBytes - 18)
          return ill_formed("invalid extensible fmt chunk size");
        bits = u16_at(f + 18);
        if (std::memcmp(f + 26, kSubformatTail, sizeof kSubformatTail) != 0) return ErrorText{kUnsupported};
        tag = u16_at(f + 24);
      }
      if (format_.channels == 0) return ill_formed("file contains zero channels");
      if (tag == kFormatPcm)
        format_.sample_format = WavSampleFormat::integer;
      else if (tag == kFormatIeeeFloat)
        format_.sample_format = WavSampleFormat::ieee_float;
      else
        return ErrorText{kUnsupported};
      if (block_align == 0 || block_align % format_.channels != 0) return ill_formed("invalid block align");
      format_.bytes_per_sample = static_cast<std::uint16_t>(block_align / format_.channels);
      if (bits == 0) return ill_formed("bits per sample is zero");
      if (bits > container_bits || container_bits > format_.bytes_per_sample * 8u)
        return ill_formed("bits per sample exceed the sample container");
      format_.bits_per_sample = bits;
      have_fmt = true;
      if (auto skipped = skip(std::uint64_t{size} + (size & 1u)); !skipped) return skipped;
      continue;
    }

    if (tag_is(chunk, "data")) {
      if (!have_fmt) return ill_formed("missing fmt chunk");
      const std::uint32_t frame_bytes = std::uint32_t{format_.bytes_per_sample} * format_.channels;
      if (size % frame_bytes != 0) return ill_formed("data chunk length is not a whole number of frames");
      total_samples_ = samples_left_ = size / format_.bytes_per_sample;
      choose_decoders();
      return {};
    }

    if (auto skipped = skip(std::uint64_t{size} + (size & 1u)); !skipped) return skipped;
  }
}

void WavReader::choose_decoders() {
  const std::uint16_t bytes = format_.bytes_per_sample;
  const std::uint16_t bits = format_.bits_per_sample;
  Decode stored = Decode::unsupported;
  if (format_.sample_format == WavSampleFormat::ieee_float) {
    if (bytes == 4 && bits == 32) stored = Decode::f32;
  } else if (bytes == 1 && bits == 8) {
    stored = Decode::u8;
  } else if (bytes == 2 && bits == 16) {
    stored = Decode::s16;
  } else if (bytes == 3 && bits == 24) {
    stored = Decode::s24;
  } else if (bytes == 4 && bits == 24) {
    stored = Decode::s24_in_32;
  } else if (bytes == 4 && bits == 32) {
    stored = Decode::s32;
  }
  const bool is_float = stored == Decode::f32;
  const bool is_int = stored != Decode::unsupported && !is_float;
  to_i16_ = bytes > 2 ? Decode::too_wide : is_int ? stored : Decode::unsupported;
  to_i32_ = bytes > 4 ? Decode::too_wide : is_int ? stored : Decode::unsupported;
  to_f32_ = bytes > 4 ? Decode::too_wide : is_float ? stored : Decode::unsupported;
}

WavRead WavReader::fail(const std::string& text) {
  error_ = text;
  to_i16_ = to_i32_ = to_f32_ = Decode::failed;
  return WavRead::error;
}

WavRead WavReader::fail_decode(Decode decode) {
  if (decode == Decode::failed) return WavRead::error;
  return fail(decode == Decode::too_wide ? kTooWide : kUnsupported);
}

template <class T>
Result<std::size_t> WavReader::read_block(std::span<T> out, Decode decode) {
  const std::size_t wanted = std::min<std::size_t>(out.size(), samples_left_);
  if (wanted == 0) return std::size_t{0};
  if (decode >= Decode::too_wide) {
    fail_decode(decode);
    return ErrorText{error_};
  }
  const std::size_t width = format_.bytes_per_sample;
  if constexpr (std::endian::native == std::endian::little) {
    if (width == sizeof(T) && decode != Decode::s24_in_32) {
      if (!read_bytes(reinterpret_cast<unsigned char*>(out.data()), wanted * width)) return ErrorText{error_};
      samples_left_ -= static_cast<std::uint32_t>(wanted);
      return wanted;
    }
  }
  std::size_t done = 0;
  while (done < wanted) {
    if (!fill(width)) return ErrorText{error_};
    const std::size_t n = std::min(wanted - done, static_cast<std::size_t>(end_ - next_) / width);
    T* dest = out.data() + done;
    const unsigned char* p = next_;
    if constexpr (std::is_same_v<T, float>) {
      for (std::size_t i = 0; i < n; ++i) dest[i] = decode_float(p + i * 4);
    } else {
      switch (decode) {
        case Decode::u8:
          for (std::size_t i = 0; i < n; ++i) dest[i] = static_cast<T>(decode_int(Decode::u8, p + i));
          break;
        case Decode::s16:
          for (std::size_t i = 0; i < n; ++i) dest[i] = static_cast<T>(decode_int(Decode::s16, p + i * 2));
          break;
        case Decode::s24:
          for (std::size_t i = 0; i < n; ++i) dest[i] = static_cast<T>(decode_int(Decode::s24, p + i * 3));
          break;
        case Decode::s24_in_32:
          for (std::size_t i = 0; i < n; ++i) dest[i] = static_cast<T>(decode_int(Decode::s24, p + i * 4));
          break;
        default:
          for (std::size_t i = 0; i < n; ++i) dest[i] = static_cast<T>(decode_int(Decode::s32, p + i * 4));
          break;
      }
    }
    next_ += n * width;
    done += n;
  }
  samples_left_ -= static_cast<std::uint32_t>(done);
  return done;
}

Result<std::size_t> WavReader::read_samples(std::span<std::int16_t> out) { return read_block(out, to_i16_); }
Result<std::size_t> WavReader::read_samples(std::span<std::int32_t> out) { return read_block(out, to_i32_); }
Result<std::size_t> WavReader::read_samples(std::span<float> out) { return read_block(out, to_f32_); }

}  // namespace ombri
