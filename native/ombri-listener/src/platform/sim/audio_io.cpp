#include "platform/audio_io.hpp"

#include <fmt/format.h>

#include <cmath>
#include <mutex>

#include "base/utf8.hpp"
#include "platform/hal.hpp"
#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"
#include "platform/sim/status_text.hpp"

namespace ombri::audio_io {

using namespace hal;
using platform::PcmKind;
using platform::status_text;

std::string_view sample_format_name(SampleFormat format) {
  static constexpr std::string_view names[] = {"I8", "I16", "I32", "I64", "U8", "U16", "U32", "U64", "F32", "F64"};
  return names[static_cast<int>(format)];
}

std::string backend_error_text(std::string_view description) {
  return fmt::format("A backend-specific error has occurred: {}", description);
}

namespace {

ErrorText backend_failure(OSStatus status) { return ErrorText{backend_error_text(status_text(status))}; }

constexpr AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
  return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

std::uint32_t rounded_rate(double rate) {
  if (!(rate >= 1.0)) return 1;
  if (rate >= 4294967295.0) return 4294967295U;
  return static_cast<std::uint32_t>(std::lround(rate));
}

template <class T>
constexpr PcmKind kind_of() {
  if constexpr (std::is_same_v<T, float>)
    return PcmKind::F32;
  else if constexpr (std::is_same_v<T, std::int16_t>)
    return PcmKind::I16;
  else
    return PcmKind::U16;
}

// One step of setting up the simulated audio unit; a test can make it fail.
OSStatus unit_step(sim::Call call, AudioObjectID device) {
  return sim::audio_world().take_fault(call, device).value_or(kAudioHardwareNoError);
}

Result<SupportedStreamConfig> default_config(AudioObjectID device, AudioObjectPropertyScope scope) {
  AudioStreamBasicDescription format{};
  const OSStatus status =
      get_property_data(device, {kAudioDevicePropertyStreamFormat, scope, kAudioObjectPropertyElementMain}, format);
  if (status == platform::kAudioHardwareUnknownPropertyError)
    return ErrorText{std::string(kStreamTypeNotSupportedText)};
  if (status != kAudioHardwareNoError) return backend_failure(status);
  SampleFormat sample_format;
  switch (platform::pcm_kind(format)) {
    case PcmKind::F32:
      sample_format = SampleFormat::F32;
      break;
    case PcmKind::I16:
      sample_format = SampleFormat::I16;
      break;
    default:
      return ErrorText{std::string(kStreamTypeNotSupportedText)};
  }
  AudioValueRange range{};
  if (OSStatus s = get_property_data(device, global(kAudioDevicePropertyBufferFrameSizeRange), range);
      s != kAudioHardwareNoError)
    return backend_failure(s);
  const auto channels = static_cast<std::uint16_t>(std::min<std::uint32_t>(format.mChannelsPerFrame, 0xFFFF));
  return SupportedStreamConfig{channels,
                               rounded_rate(format.mSampleRate),
                               {static_cast<std::uint32_t>(range.mMinimum), static_cast<std::uint32_t>(range.mMaximum)},
                               sample_format};
}

}  // namespace

// What the IO proc and the device-loss listener work on; it stays at one
// address for the life of the stream, as their client data.
struct Stream::Core {
  AudioObjectID device = kAudioObjectUnknown;
  AudioDeviceIOProcID proc_id = 0;
  std::size_t sample_bytes = 4;
  std::function<void(void* data, std::size_t samples)> data;
  ErrorCallback error;
  std::mutex error_mutex;  // both callers of the error callback hold it
  bool loss_listener = false;
  // Play, pause, device loss and release start and stop the unit one at a
  // time, so a loss that comes while the stream starts still pauses it.
  std::mutex run_mutex;
  bool running = false;

  void report(StreamError failure) {
    std::lock_guard lock(error_mutex);
    if (error) error(failure);
  }
  OSStatus start() {
    std::lock_guard lock(run_mutex);
    if (running) return kAudioHardwareNoError;
    const OSStatus status = device_start(device, proc_id);
    running = status == kAudioHardwareNoError;
    return status;
  }
  OSStatus stop() {
    std::lock_guard lock(run_mutex);
    if (!running) return kAudioHardwareNoError;
    running = false;
    return device_stop(device, proc_id);
  }

  ~Core() {
    (void)stop();
    if (proc_id) (void)destroy_io_proc_id(device, proc_id);
    if (loss_listener)
      (void)remove_property_listener(device, global(kAudioDevicePropertyDeviceIsAlive), device_lost, this);
  }

  // A buffer cannot be timed without the host time base: it is not delivered.
  bool timebase_usable(OSStatus& status) {
    HostTimebase timebase;
    status = host_timebase(timebase);
    if (status == kAudioHardwareNoError) return true;
    report({StreamError::Kind::BackendSpecific,
            backend_error_text("the host time base is unavailable (" + status_text(status) + ")")});
    return false;
  }

  static OSStatus input_proc(AudioObjectID device, const AudioTimeStamp*, const AudioBufferList* input,
                             const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*, void* client) {
    auto& core = *static_cast<Core*>(client);
    if (OSStatus render = unit_step(sim::Call::AudioUnitRender, device); render != kAudioHardwareNoError) return render;
    if (!input || input->mNumberBuffers == 0) return kAudioHardwareNoError;
    OSStatus status;
    if (!core.timebase_usable(status)) return status;
    const AudioBuffer& buffer = input->mBuffers[0];
    core.data(buffer.mData, buffer.mDataByteSize / core.sample_bytes);
    return kAudioHardwareNoError;
  }

  static OSStatus output_proc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList*, const AudioTimeStamp*,
                              AudioBufferList* output, const AudioTimeStamp*, void* client) {
    auto& core = *static_cast<Core*>(client);
    if (!output || output->mNumberBuffers == 0) return kAudioHardwareNoError;
    OSStatus status;
    if (!core.timebase_usable(status)) return status;
    AudioBuffer& buffer = output->mBuffers[0];
    core.data(buffer.mData, buffer.mDataByteSize / core.sample_bytes);
    return kAudioHardwareNoError;
  }

  static OSStatus device_lost(AudioObjectID, std::uint32_t, const AudioObjectPropertyAddress*, void* client) {
    auto& core = *static_cast<Core*>(client);
    (void)core.stop();
    core.report({StreamError::Kind::DeviceNotAvailable, std::string(kDeviceNotAvailableText)});
    return kAudioHardwareNoError;
  }
};

namespace {

// Sets up the unit on the device in the order the platform does, and starts it.
Result<Stream> build_stream(AudioObjectID device, bool watch_device, AudioObjectPropertyScope scope, PcmKind kind,
                            const StreamConfig& config, std::function<void(void*, std::size_t)> data,
                            ErrorCallback error) {
  std::uint32_t alive = 0;
  if (OSStatus s = get_property_data(device, global(kAudioDevicePropertyDeviceIsAlive), alive);
      s != kAudioHardwareNoError)
    return backend_failure(s);
  if (!alive) return ErrorText{std::string(kDeviceNotAvailableText)};
  AudioStreamBasicDescription format{};
  const OSStatus read =
      get_property_data(device, {kAudioDevicePropertyStreamFormat, scope, kAudioObjectPropertyElementMain}, format);
  if (read == platform::kAudioHardwareUnknownPropertyError)
    return ErrorText{std::string(kStreamConfigNotSupportedText)};
  if (read != kAudioHardwareNoError) return backend_failure(read);
  if (platform::pcm_kind(format) != kind || format.mChannelsPerFrame != config.channels ||
      rounded_rate(format.mSampleRate) != config.sample_rate)
    return ErrorText{std::string(kStreamConfigNotSupportedText)};

  for (sim::Call step : {sim::Call::AudioUnitNew, sim::Call::AudioUnitSetProperty, sim::Call::AudioUnitInitialize})
    if (OSStatus s = unit_step(step, device); s != kAudioHardwareNoError) return backend_failure(s);

  auto core = std::make_unique<Stream::Core>();
  core->device = device;
  core->sample_bytes = format.mBytesPerFrame / std::max<std::uint32_t>(format.mChannelsPerFrame, 1);
  core->data = std::move(data);
  core->error = std::move(error);
  const auto proc = scope == kAudioDevicePropertyScopeInput ? Stream::Core::input_proc : Stream::Core::output_proc;
  if (OSStatus s = create_io_proc_id(device, proc, core.get(), core->proc_id); s != kAudioHardwareNoError) {
    core->proc_id = 0;
    return backend_failure(s);
  }
  if (watch_device) {
    if (OSStatus s = add_property_listener(device, global(kAudioDevicePropertyDeviceIsAlive), Stream::Core::device_lost,
                                           core.get());
        s != kAudioHardwareNoError)
      return backend_failure(s);
    core->loss_listener = true;
  }
  Stream stream(std::move(core));
  if (auto started = stream.play(); !started) return ErrorText{started.error()};
  return stream;
}

}  // namespace

Stream::Stream(std::unique_ptr<Core> core) : core_(std::move(core)) {}
Stream::Stream(Stream&&) noexcept = default;
Stream& Stream::operator=(Stream&&) noexcept = default;
Stream::~Stream() = default;

Result<void> Stream::play() {
  if (OSStatus s = core_->start(); s != kAudioHardwareNoError) return backend_failure(s);
  return {};
}

Result<void> Stream::pause() {
  if (OSStatus s = core_->stop(); s != kAudioHardwareNoError) return backend_failure(s);
  return {};
}

Result<std::string> Device::name() const {
  StringRef name;
  const OSStatus status = get_property_data(
      id_, {kAudioObjectPropertyName, kAudioDevicePropertyScopeOutput, kAudioObjectPropertyElementMain}, name);
  if (status != kAudioHardwareNoError) return backend_failure(status);
  if (!name) return ErrorText{backend_error_text("the device has no name")};
  if (!is_valid_utf8(*name)) return ErrorText{backend_error_text("the device name is not UTF-8")};
  return *name;
}

Result<SupportedStreamConfig> Device::default_input_config() const {
  return default_config(id_, kAudioDevicePropertyScopeInput);
}

Result<SupportedStreamConfig> Device::default_output_config() const {
  return default_config(id_, kAudioDevicePropertyScopeOutput);
}

template <class T>
Result<Stream> Device::build_input_stream(const StreamConfig& config, InputCallback<T> data,
                                          ErrorCallback error) const {
  auto raw = [data = std::move(data)](void* samples, std::size_t count) {
    data(std::span<const T>(static_cast<const T*>(samples), count));
  };
  return build_stream(id_, !from_default_query_, kAudioDevicePropertyScopeInput, kind_of<T>(), config, std::move(raw),
                      std::move(error));
}

template Result<Stream> Device::build_input_stream<float>(const StreamConfig&, InputCallback<float>,
                                                          ErrorCallback) const;
template Result<Stream> Device::build_input_stream<std::int16_t>(const StreamConfig&, InputCallback<std::int16_t>,
                                                                 ErrorCallback) const;
template Result<Stream> Device::build_input_stream<std::uint16_t>(const StreamConfig&, InputCallback<std::uint16_t>,
                                                                  ErrorCallback) const;

Result<Stream> Device::build_output_stream(const StreamConfig& config, OutputCallback data, ErrorCallback error) const {
  auto raw = [data = std::move(data)](void* samples, std::size_t count) {
    data(std::span<float>(static_cast<float*>(samples), count));
  };
  // The output unit follows the device it is bound to; no loss listener.
  return build_stream(id_, false, kAudioDevicePropertyScopeOutput, PcmKind::F32, config, std::move(raw),
                      std::move(error));
}

Result<std::vector<Device>> input_devices() {
  std::vector<AudioObjectID> ids;
  if (OSStatus s = get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), ids);
      s != kAudioHardwareNoError)
    return backend_failure(s);
  std::vector<Device> devices;
  for (AudioObjectID id : ids) {
    AudioStreamBasicDescription format{};
    if (get_property_data(
            id, {kAudioDevicePropertyStreamFormat, kAudioDevicePropertyScopeInput, kAudioObjectPropertyElementMain},
            format) == kAudioHardwareNoError)
      devices.push_back(Device(id, false));
  }
  return devices;
}

std::optional<Device> default_input_device() {
  AudioObjectID id = kAudioObjectUnknown;
  if (get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultInputDevice), id) !=
      kAudioHardwareNoError)
    return std::nullopt;
  return Device(id, true);
}

std::optional<Device> default_output_device() {
  AudioObjectID id = kAudioObjectUnknown;
  if (get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultOutputDevice), id) !=
      kAudioHardwareNoError)
    return std::nullopt;
  return Device(id, true);
}

}  // namespace ombri::audio_io
