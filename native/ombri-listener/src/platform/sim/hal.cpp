#include "platform/hal.hpp"

#include <chrono>

#include "platform/sim/audio_world.hpp"

namespace ombri::hal {

namespace {

std::uint32_t data_size(const PropertyValue& value) {
  struct Size {
    std::uint32_t operator()(std::uint32_t) const { return 4; }
    std::uint32_t operator()(double) const { return 8; }
    std::uint32_t operator()(const StringRef&) const { return 8; }
    std::uint32_t operator()(const std::vector<AudioObjectID>& ids) const {
      return static_cast<std::uint32_t>(ids.size() * sizeof(AudioObjectID));
    }
    std::uint32_t operator()(const AudioStreamBasicDescription&) const { return 40; }
    std::uint32_t operator()(const AudioValueRange&) const { return 16; }
  };
  return std::visit(Size{}, value);
}

}  // namespace

OSStatus get_property_data_size(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t& size) {
  PropertyValue value;
  if (OSStatus status = sim::audio_world().get_property(object, address, value, sim::Call::GetPropertyDataSize);
      status != kAudioHardwareNoError)
    return status;
  size = data_size(value);
  return kAudioHardwareNoError;
}

OSStatus get_property_value(AudioObjectID object, const AudioObjectPropertyAddress& address, PropertyValue& value) {
  return sim::audio_world().get_property(object, address, value);
}

OSStatus add_property_listener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               AudioObjectPropertyListenerProc listener, void* client_data) {
  return sim::audio_world().add_listener(object, address, listener, client_data);
}

OSStatus remove_property_listener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                  AudioObjectPropertyListenerProc listener, void* client_data) {
  return sim::audio_world().remove_listener(object, address, listener, client_data);
}

TapDescription TapDescription::mono_global_excluding(std::vector<AudioObjectID> processes) {
  return TapDescription{true, true, std::move(processes)};
}

OSStatus create_process_tap(const TapDescription& description, AudioObjectID& tap) {
  return sim::audio_world().create_tap(description, tap);
}

OSStatus destroy_process_tap(AudioObjectID tap) { return sim::audio_world().destroy_tap(tap); }

OSStatus create_aggregate_device(const AggregateDeviceDescription& description, AudioObjectID& device) {
  return sim::audio_world().create_aggregate(description, device);
}

OSStatus destroy_aggregate_device(AudioObjectID device) { return sim::audio_world().destroy_aggregate(device); }

OSStatus create_io_proc_id(AudioObjectID device, AudioDeviceIOProc proc, void* client_data,
                           AudioDeviceIOProcID& proc_id) {
  return sim::audio_world().create_io_proc(device, proc, client_data, proc_id);
}

OSStatus destroy_io_proc_id(AudioObjectID device, AudioDeviceIOProcID proc_id) {
  return sim::audio_world().destroy_io_proc(device, proc_id);
}

OSStatus device_start(AudioObjectID device, AudioDeviceIOProcID proc_id) {
  return sim::audio_world().start(device, proc_id);
}

OSStatus device_stop(AudioObjectID device, AudioDeviceIOProcID proc_id) {
  return sim::audio_world().stop(device, proc_id);
}

OSStatus host_timebase(HostTimebase& timebase) {
  if (auto fault = sim::audio_world().take_fault(sim::Call::HostTimebase)) return *fault;
  timebase = {1, 1};
  return kAudioHardwareNoError;
}

std::uint64_t host_time_now() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace ombri::hal
