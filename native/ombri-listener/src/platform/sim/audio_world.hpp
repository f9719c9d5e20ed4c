#pragma once
// The simulated audio hardware behind the hal layer: devices with their
// formats and signals, process taps, aggregate devices, IO procs running on
// threads of their own at the device's rate, property listeners, and faults.
//
// The program runs on one world: the one a test installed, else the one the
// JSON file named by OMBRI_SIM_AUDIO describes, else AudioWorldSpec::standard().

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hal.hpp"
#include "platform/sim/current_world.hpp"
#include "platform/sim/pcm.hpp"
#include "platform/sim/signal.hpp"

namespace ombri::sim {

using hal::AudioObjectID;
using hal::AudioObjectPropertyAddress;
using hal::AudioStreamBasicDescription;
using platform::OSStatus;

// Each call of the layer that a test can make fail.
enum class Call {
  GetPropertyDataSize,
  GetPropertyData,
  AddPropertyListener,
  RemovePropertyListener,
  CreateProcessTap,
  DestroyProcessTap,
  CreateAggregateDevice,
  DestroyAggregateDevice,
  CreateIOProcID,
  DestroyIOProcID,
  DeviceStart,
  DeviceStop,
  HostTimebase,
  AudioFormatInit,  // the format object comes back empty; status unused
  AudioUnitNew,     // finding the output component and making the unit
  AudioUnitInitialize,
  AudioUnitSetProperty,  // binding the device, the stream format, the callback
  AudioUnitRender,
};

// Fault(Call::GetPropertyData, -50).on(mic).property(kAudioObjectPropertyName).times(2)
struct Fault {
  Fault(Call call, OSStatus status) : call(call), status(status) {}
  Fault& on(AudioObjectID id) {
    object = id;
    return *this;
  }
  Fault& property(hal::AudioObjectPropertySelector which) {
    selector = which;
    return *this;
  }
  Fault& in_scope(hal::AudioObjectPropertyScope which) {
    scope = which;
    return *this;
  }
  Fault& times(int count) {
    remaining = count;
    return *this;
  }
  Fault& always() {
    remaining = -1;
    return *this;
  }

  Call call;
  OSStatus status;
  std::optional<AudioObjectID> object;  // any object when absent
  std::optional<hal::AudioObjectPropertySelector> selector;
  std::optional<hal::AudioObjectPropertyScope> scope;
  int remaining = 1;  // matching calls that still fail; negative: all of them
};

struct DeviceSpec {
  std::string uid;
  hal::StringRef name;  // nothing: the name reads as a null string
  std::uint32_t transport = hal::kAudioDeviceTransportTypeBuiltIn;
  std::optional<AudioStreamBasicDescription> input;
  std::optional<AudioStreamBasicDescription> output;
  std::uint32_t buffer_frames = 512;
  hal::AudioValueRange buffer_frame_range{15.0, 4096.0};
  bool alive = true;
  bool running_somewhere = false;  // in another process; our own running IO procs count too
  Signal signal;                   // what the input delivers
};

// What every new process tap reports and delivers.
struct TapSpec {
  AudioStreamBasicDescription format = platform::pcm_format(48000.0, 1, platform::PcmKind::F32);
  Signal signal;
  std::uint32_t buffer_frames = 512;
};

struct AudioWorldSpec {
  std::vector<DeviceSpec> devices;
  std::optional<std::string> default_input;  // device uids
  std::optional<std::string> default_output;
  TapSpec tap;

  // A built-in microphone (48 kHz mono f32) and built-in output (48 kHz
  // stereo f32), both defaults, and taps that deliver silence.
  static AudioWorldSpec standard();
};

struct OutputCounters {
  std::uint64_t buffers = 0;
  // Samples not 0.0 after a render of a float output (the hardware fills the
  // buffer with a non-zero pattern before); bytes not 0 for other outputs.
  std::uint64_t nonzero_samples = 0;
};

class AudioWorld {
 public:
  explicit AudioWorld(AudioWorldSpec spec);
  ~AudioWorld();  // stops every IO proc and the notification thread
  AudioWorld(const AudioWorld&) = delete;
  AudioWorld& operator=(const AudioWorld&) = delete;

  // For tests and demos: changes notify property listeners as hardware would.
  AudioObjectID device_id(std::string_view uid) const;  // kAudioObjectUnknown when unknown
  AudioObjectID add_device(DeviceSpec spec);
  void fail(Fault fault);
  // Unplugging takes the device off the device list and clears a default that names it.
  void set_alive(AudioObjectID device, bool alive);
  void set_default_input(AudioObjectID device);  // kAudioObjectUnknown: no default
  void set_default_output(AudioObjectID device);
  void set_running_somewhere(AudioObjectID device, bool running);
  void set_name(AudioObjectID device, hal::StringRef name);
  void set_stream_format(AudioObjectID device, hal::AudioObjectPropertyScope scope,
                         std::optional<AudioStreamBasicDescription> format);
  void set_signal(AudioObjectID device, Signal signal);
  void set_tap_signal(Signal signal);  // new taps and the existing ones
  void set_tap_rate(double sample_rate);

  std::size_t running_io_procs(AudioObjectID device) const;
  OutputCounters output_counters(AudioObjectID device) const;
  std::vector<AudioObjectID> taps() const;
  std::vector<AudioObjectID> aggregate_devices() const;
  std::optional<hal::AggregateDeviceDescription> aggregate_description(AudioObjectID device) const;
  std::size_t property_listener_count() const;

  // The layer's entry points.
  std::optional<OSStatus> take_fault(Call call, AudioObjectID object = hal::kAudioObjectUnknown,
                                     const AudioObjectPropertyAddress* address = nullptr);
  // `call` is the layer's call that reads: the size read and the data read fail apart.
  OSStatus get_property(AudioObjectID object, const AudioObjectPropertyAddress& address, hal::PropertyValue& value,
                        Call call = Call::GetPropertyData);
  OSStatus add_listener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                        hal::AudioObjectPropertyListenerProc listener, void* client_data);
  OSStatus remove_listener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                           hal::AudioObjectPropertyListenerProc listener, void* client_data);
  OSStatus create_tap(const hal::TapDescription& description, AudioObjectID& tap);
  OSStatus destroy_tap(AudioObjectID tap);
  OSStatus create_aggregate(const hal::AggregateDeviceDescription& description, AudioObjectID& device);
  OSStatus destroy_aggregate(AudioObjectID device);
  OSStatus create_io_proc(AudioObjectID device, hal::AudioDeviceIOProc proc, void* client_data,
                          hal::AudioDeviceIOProcID& proc_id);
  OSStatus destroy_io_proc(AudioObjectID device, hal::AudioDeviceIOProcID proc_id);
  OSStatus start(AudioObjectID device, hal::AudioDeviceIOProcID proc_id);
  OSStatus stop(AudioObjectID device, hal::AudioDeviceIOProcID proc_id);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

AudioWorld& audio_world();

using ScopedAudioWorld = ScopedWorld<AudioWorld, AudioWorldSpec>;

}  // namespace ombri::sim
