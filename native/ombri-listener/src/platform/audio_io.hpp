#pragma once
// The audio I/O layer: input devices, the default input and output device,
// their default stream configuration, and input and output streams that call
// a data callback on the device's IO thread and an error callback on errors.
//
// A stream runs from the moment it is built. Releasing it stops it and
// disposes of it; once the release returns no callback of it runs again and
// both callbacks (with what they hold) are gone.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "platform/hal_types.hpp"

namespace ombri::audio_io {

enum class SampleFormat { I8, I16, I32, I64, U8, U16, U32, U64, F32, F64 };

// "I8", "I16", ... "F64".
std::string_view sample_format_name(SampleFormat format);

struct SupportedBufferSize {
  std::uint32_t min;
  std::uint32_t max;
};

struct SupportedStreamConfig {
  std::uint16_t channels;
  std::uint32_t sample_rate;
  SupportedBufferSize buffer_size;
  SampleFormat sample_format;
};

// What a stream is built with; the buffer size is always the device's default.
struct StreamConfig {
  std::uint16_t channels;
  std::uint32_t sample_rate;
};

inline constexpr std::string_view kDeviceNotAvailableText =
    "The requested device is no longer available. For example, it has been unplugged.";
inline constexpr std::string_view kStreamTypeNotSupportedText =
    "The requested stream type is not supported by the device.";
inline constexpr std::string_view kStreamConfigNotSupportedText =
    "The requested stream configuration is not supported by the device.";

// "A backend-specific error has occurred: {description}".
std::string backend_error_text(std::string_view description);

struct StreamError {
  enum class Kind { DeviceNotAvailable, BackendSpecific };
  Kind kind;
  std::string message;
};

using ErrorCallback = std::function<void(const StreamError&)>;
template <class T>
using InputCallback = std::function<void(std::span<const T>)>;  // interleaved samples of one buffer
using OutputCallback = std::function<void(std::span<float>)>;   // the buffer to fill, interleaved

class Stream {
 public:
  struct Core;
  explicit Stream(std::unique_ptr<Core> core);
  Stream(Stream&&) noexcept;
  Stream& operator=(Stream&&) noexcept;
  ~Stream();

  // Starts the stream when it is not running; a running stream stays as it is.
  Result<void> play();
  Result<void> pause();

 private:
  std::unique_ptr<Core> core_;
};

class Device {
 public:
  hal::AudioObjectID id() const { return id_; }
  Result<std::string> name() const;

  // The current stream format of the scope: f32 and i16 linear PCM are
  // reported, anything else is kStreamTypeNotSupportedText.
  Result<SupportedStreamConfig> default_input_config() const;
  Result<SupportedStreamConfig> default_output_config() const;

  // T is float, std::int16_t or std::uint16_t and must be the device's own
  // sample type; channels and rate must be the device's. A device that came
  // from input_devices() (not from default_input_device()) gets a listener
  // that pauses the stream and reports kDeviceNotAvailableText when the
  // device goes away.
  template <class T>
  Result<Stream> build_input_stream(const StreamConfig& config, InputCallback<T> data, ErrorCallback error) const;
  // 32-bit float output.
  Result<Stream> build_output_stream(const StreamConfig& config, OutputCallback data, ErrorCallback error) const;

 private:
  friend Result<std::vector<Device>> input_devices();
  friend std::optional<Device> default_input_device();
  friend std::optional<Device> default_output_device();
  Device(hal::AudioObjectID id, bool from_default_query) : id_(id), from_default_query_(from_default_query) {}

  hal::AudioObjectID id_;
  bool from_default_query_;
};

// Devices with an input stream, in the order of the system's device list.
Result<std::vector<Device>> input_devices();
std::optional<Device> default_input_device();
std::optional<Device> default_output_device();

}  // namespace ombri::audio_io
