#pragma once
// The audio hardware layer: audio objects and their properties, property
// listeners, process taps, private aggregate devices and IO procs.
//
// Every call returns a status (0 for success). Notifications of property
// listeners arrive on a thread of the layer; an IO proc of a started device is
// called on that device's own thread, one buffer at a time, at the device's
// sample rate.

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/hal_types.hpp"

namespace ombri::hal {

// What a property can hold. get_property_data with a type the property does
// not have fails with kAudioHardwareBadPropertySizeError, as a wrong size would.
using PropertyValue = std::variant<std::uint32_t, double, StringRef, std::vector<AudioObjectID>,
                                   AudioStreamBasicDescription, AudioValueRange>;

// The size in bytes that the property's data takes (4 per device id in a list,
// 8 for a string reference, 40 for a stream description).
OSStatus get_property_data_size(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t& size);

OSStatus get_property_value(AudioObjectID object, const AudioObjectPropertyAddress& address, PropertyValue& value);

template <class T>
OSStatus get_property_data(AudioObjectID object, const AudioObjectPropertyAddress& address, T& out) {
  PropertyValue value;
  if (OSStatus status = get_property_value(object, address, value); status != kAudioHardwareNoError) return status;
  T* held = std::get_if<T>(&value);
  if (!held) return platform::kAudioHardwareBadPropertySizeError;
  out = std::move(*held);
  return kAudioHardwareNoError;
}

// The listener is called on the layer's notification thread with the address
// that changed. Removing a listener waits for a call of it that is in flight
// (unless it is removed from inside a notification), so after removal it
// never runs again and its client data may go.
OSStatus add_property_listener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               AudioObjectPropertyListenerProc listener, void* client_data);
OSStatus remove_property_listener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                  AudioObjectPropertyListenerProc listener, void* client_data);

// A process tap: the mix of what processes play. The exclusion list holds
// process object ids; mono_global_excluding({}) taps every process in mono.
struct TapDescription {
  bool mono = true;
  bool global = true;
  std::vector<AudioObjectID> excluded_processes;

  static TapDescription mono_global_excluding(std::vector<AudioObjectID> processes);
};

OSStatus create_process_tap(const TapDescription& description, AudioObjectID& tap);
OSStatus destroy_process_tap(AudioObjectID tap);

// The description an aggregate device is built from; each field is one key of
// the platform's description dictionary ("private", "tapautostart", "name",
// "uid", "taps" with one "uid" entry per sub-tap).
struct AggregateSubTap {
  std::string uid;
};
struct AggregateDeviceDescription {
  bool is_private = false;
  bool tap_auto_start = false;
  std::string name;
  std::string uid;
  std::vector<AggregateSubTap> taps;
};

OSStatus create_aggregate_device(const AggregateDeviceDescription& description, AudioObjectID& device);
// Stops and removes the device's IO procs with it.
OSStatus destroy_aggregate_device(AudioObjectID device);

OSStatus create_io_proc_id(AudioObjectID device, AudioDeviceIOProc proc, void* client_data,
                           AudioDeviceIOProcID& proc_id);
// Stops the proc first when it runs.
OSStatus destroy_io_proc_id(AudioObjectID device, AudioDeviceIOProcID proc_id);
// Starting a running proc succeeds and changes nothing.
OSStatus device_start(AudioObjectID device, AudioDeviceIOProcID proc_id);
// Returns only when no call of the proc is in flight (unless called from
// inside the proc); no call follows.
OSStatus device_stop(AudioObjectID device, AudioDeviceIOProcID proc_id);

OSStatus host_timebase(HostTimebase& timebase);
std::uint64_t host_time_now();

// Owns one object id and destroys it when released; the destroy's status is ignored.
template <OSStatus (*Destroy)(AudioObjectID)>
class ObjectOwner {
 public:
  ObjectOwner() = default;
  explicit ObjectOwner(AudioObjectID id) : id_(id) {}
  ObjectOwner(ObjectOwner&& other) noexcept : id_(std::exchange(other.id_, kAudioObjectUnknown)) {}
  ObjectOwner& operator=(ObjectOwner&& other) noexcept {
    if (this != &other) {
      reset();
      id_ = std::exchange(other.id_, kAudioObjectUnknown);
    }
    return *this;
  }
  ~ObjectOwner() { reset(); }

  AudioObjectID get() const { return id_; }
  explicit operator bool() const { return id_ != kAudioObjectUnknown; }
  void reset() {
    if (id_ != kAudioObjectUnknown) (void)Destroy(std::exchange(id_, kAudioObjectUnknown));
  }

 private:
  AudioObjectID id_ = kAudioObjectUnknown;
};

using ProcessTap = ObjectOwner<destroy_process_tap>;
using AggregateDevice = ObjectOwner<destroy_aggregate_device>;

}  // namespace ombri::hal
