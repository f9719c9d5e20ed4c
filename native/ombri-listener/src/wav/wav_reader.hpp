#pragma once
// Reads RIFF/WAVE files sample by sample in file order: integer PCM of 8
// (unsigned), 16, 24 (in 3- or 4-byte containers) and 32 bits, and 32-bit IEEE
// float, in the plain and the WAVE_FORMAT_EXTENSIBLE header forms. Its error
// texts are part of the listener's messages.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <type_traits>

#include "base/result.hpp"
#include "base/unique_fd.hpp"

namespace ombri {

enum class WavSampleFormat { integer, ieee_float };

struct WavFormat {
  std::uint16_t channels = 0;  // at least 1 once a file is open
  std::uint32_t sample_rate = 0;
  std::uint16_t bits_per_sample = 0;   // the significant bits
  std::uint16_t bytes_per_sample = 0;  // the container width
  WavSampleFormat sample_format = WavSampleFormat::integer;
};

enum class WavRead { sample, end, error };

class WavReader {
 public:
  static constexpr std::size_t kDefaultBufferBytes = 64 * 1024;

  // Opens `path` and checks its header; the data chunk must hold a whole
  // number of frames. `buffer_bytes` is raised to what a header needs.
  static Result<WavReader> open(const std::string& path, std::size_t buffer_bytes = kDefaultBufferBytes);

  // A reader that was moved from may only be released.
  WavReader(WavReader&&) noexcept = default;
  WavReader& operator=(WavReader&&) = delete;

  const WavFormat& format() const { return format_; }
  // Samples of all channels that the data chunk announces.
  std::uint32_t total_samples() const { return total_samples_; }

  // The next sample: 8-bit data as the byte minus 128, wider integers signed
  // and sign-extended, floats unchanged. A container wider than the
  // destination, or a layout the destination cannot take, fails at the first
  // read; so does data that ends early. After an error, error() holds the
  // text and every further read fails alike.
  WavRead read(std::int16_t& out) { return read_one(out, to_i16_); }
  WavRead read(std::int32_t& out) { return read_one(out, to_i32_); }
  WavRead read(float& out) { return read_one(out, to_f32_); }

  // Up to out.size() samples at once, as the single reads would give them;
  // fewer only at the end. An error discards the samples of that call.
  Result<std::size_t> read_samples(std::span<std::int16_t> out);
  Result<std::size_t> read_samples(std::span<std::int32_t> out);
  Result<std::size_t> read_samples(std::span<float> out);

  const std::string& error() const { return error_; }

 private:
  // How a stored sample becomes a value of one destination type.
  enum class Decode : std::uint8_t { u8, s16, s24, s24_in_32, s32, f32, too_wide, unsupported, failed };

  WavReader(int fd, std::size_t buffer_bytes);

  Result<void> read_header();
  // Makes at least `bytes` unread bytes available; false on EOF or an OS error.
  bool fill(std::size_t bytes);
  // One read(2) into `dest`; 0 (and failed) at EOF or an OS error.
  std::size_t read_into(unsigned char* dest, std::size_t bytes);
  // Exactly `bytes` bytes, the buffered ones first; false on EOF or an OS error.
  bool read_bytes(unsigned char* dest, std::size_t bytes);
  Result<void> skip(std::uint64_t bytes);
  void choose_decoders();
  WavRead fail(const std::string& text);
  WavRead fail_decode(Decode decode);
  template <class T>
  Result<std::size_t> read_block(std::span<T> out, Decode decode);

  static std::int32_t decode_int(Decode decode, const unsigned char* p) {
    switch (decode) {
      case Decode::u8:
        return static_cast<std::int32_t>(p[0]) - 128;
      case Decode::s16:
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
      case Decode::s24:
      case Decode::s24_in_32:
        // Shifting the 24 bits to the top and back sign-extends them.
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                         static_cast<std::uint32_t>(p[1]) << 16 |
                                         static_cast<std::uint32_t>(p[2]) << 24) >>
               8;
      default:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                         static_cast<std::uint32_t>(p[2]) << 16 |
                                         static_cast<std::uint32_t>(p[3]) << 24);
    }
  }

  static float decode_float(const unsigned char* p) {
    const std::uint32_t bits = static_cast<std::uint32_t>(decode_int(Decode::s32, p));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  template <class T>
  WavRead read_one(T& out, Decode decode) {
    if (samples_left_ == 0) [[unlikely]]
      return WavRead::end;
    if (decode >= Decode::too_wide) [[unlikely]]
      return fail_decode(decode);
    if (static_cast<std::size_t>(end_ - next_) < format_.bytes_per_sample) [[unlikely]] {
      if (!fill(format_.bytes_per_sample)) return WavRead::error;
    }
    if constexpr (std::is_same_v<T, float>)
      out = decode_float(next_);
    else
      out = static_cast<T>(decode_int(decode, next_));
    next_ += format_.bytes_per_sample;
    --samples_left_;
    return WavRead::sample;
  }

  UniqueFd fd_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t capacity_ = 0;
  const unsigned char* next_ = nullptr;  // unread bytes are [next_, end_)
  const unsigned char* end_ = nullptr;
  WavFormat format_;
  std::uint32_t total_samples_ = 0;
  std::uint32_t samples_left_ = 0;
  Decode to_i16_ = Decode::failed;
  Decode to_i32_ = Decode::failed;
  Decode to_f32_ = Decode::failed;
  std::string error_;
};

}  // namespace ombri
