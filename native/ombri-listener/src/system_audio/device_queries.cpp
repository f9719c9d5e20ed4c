#include "system_audio/device_queries.hpp"

#include "base/utf8.hpp"
#include "platform/hal.hpp"

namespace ombri {

using namespace hal;

namespace {

template <class T>
std::optional<T> read_global(AudioObjectID object, AudioObjectPropertySelector selector) {
  T value{};
  if (get_property_data(object, {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain}, value) !=
      kAudioHardwareNoError)
    return std::nullopt;
  return value;
}

std::optional<AudioObjectID> default_input() {
  return read_global<AudioObjectID>(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice);
}

}  // namespace

std::optional<bool> mic_in_use_somewhere() {
  const auto device = default_input();
  if (!device) return std::nullopt;
  const auto running = read_global<std::uint32_t>(*device, kAudioDevicePropertyDeviceIsRunningSomewhere);
  if (!running) return std::nullopt;
  return *running == 1;
}

bool default_input_is_bluetooth() {
  const auto device = default_input();
  if (!device) return false;
  const auto transport = read_global<std::uint32_t>(*device, kAudioDevicePropertyTransportType);
  return transport &&
         (*transport == kAudioDeviceTransportTypeBluetooth || *transport == kAudioDeviceTransportTypeBluetoothLE);
}

std::vector<std::string> builtin_device_names() {
  std::vector<std::string> names;
  // The list's size is asked for first, as the platform wants.
  std::uint32_t size = 0;
  if (get_property_data_size(
          kAudioObjectSystemObject,
          {kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain},
          size) != kAudioHardwareNoError)
    return names;
  const auto devices = read_global<std::vector<AudioObjectID>>(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
  if (!devices) return names;
  for (const AudioObjectID device : *devices) {
    if (read_global<std::uint32_t>(device, kAudioDevicePropertyTransportType) != kAudioDeviceTransportTypeBuiltIn)
      continue;
    const auto name = read_global<StringRef>(device, kAudioObjectPropertyName);
    if (name && *name) names.push_back(to_utf8_lossy(**name));
  }
  return names;
}

}  // namespace ombri
