#pragma once
// Inside of AudioWorld, shared by its objects, IO and listener parts. One
// mutex guards everything but the fault list; one condition variable carries
// every change (IO proc state, notifications, listener calls in flight).

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/audio_world.hpp"

namespace ombri::sim {

struct DeviceObject {
  DeviceSpec spec;
  std::uint64_t signal_generation = 0;
  OutputCounters counters;
};

struct TapObject {
  std::string uid;
  AudioStreamBasicDescription format;
  Signal signal;
  std::uint64_t signal_generation = 0;
  std::uint32_t buffer_frames = 512;
};

struct IoProcEntry {
  hal::AudioDeviceIOProcID id = 0;
  AudioObjectID device = hal::kAudioObjectUnknown;
  hal::AudioDeviceIOProc proc = nullptr;
  void* client_data = nullptr;
  bool started = false;
  std::uint64_t run_generation = 0;  // a runner serves only the start that made it
  int in_flight = 0;
  std::thread runner;
  std::thread::id runner_id;
};

struct ListenerEntry {
  AudioObjectID object;
  AudioObjectPropertyAddress address;
  hal::AudioObjectPropertyListenerProc proc;
  void* client_data;
  int in_flight = 0;
};

struct AudioWorld::State {
  mutable std::mutex mutex;
  std::condition_variable changed;

  AudioObjectID next_object_id = 100;
  std::uint64_t next_generation = 1;
  std::vector<AudioObjectID> device_order;
  std::map<AudioObjectID, DeviceObject> devices;
  std::map<AudioObjectID, TapObject> taps;
  std::map<AudioObjectID, hal::AggregateDeviceDescription> aggregates;
  AudioObjectID default_input = hal::kAudioObjectUnknown;
  AudioObjectID default_output = hal::kAudioObjectUnknown;
  TapSpec tap_template;

  hal::AudioDeviceIOProcID next_proc_id = 1;
  std::map<hal::AudioDeviceIOProcID, std::shared_ptr<IoProcEntry>> procs;
  std::vector<std::thread> finished_runners;  // runners stopped from inside their own proc

  std::vector<std::shared_ptr<ListenerEntry>> listeners;
  std::deque<std::pair<AudioObjectID, AudioObjectPropertyAddress>> notifications;
  bool shutting_down = false;
  std::thread notifier;

  std::mutex fault_mutex;
  std::vector<Fault> faults;
  std::atomic<int> armed_faults{0};

  bool object_exists(AudioObjectID id) const;
  void notify(AudioObjectID object, hal::AudioObjectPropertySelector selector);
  void set_default(AudioObjectID& slot, hal::AudioObjectPropertySelector selector, AudioObjectID device);
  std::size_t running_procs_on(AudioObjectID device) const;
  // Marks the proc stopped and, unless called on its own runner, waits until
  // no call is in flight and joins the runner (with the lock released meanwhile).
  void stop_proc(std::unique_lock<std::mutex>& lock, const std::shared_ptr<IoProcEntry>& entry);
  void run_notifier();
};

// The IO thread of one started proc.
void run_io_proc(AudioWorld::State& state, std::shared_ptr<IoProcEntry> entry, std::uint64_t generation);

}  // namespace ombri::sim
