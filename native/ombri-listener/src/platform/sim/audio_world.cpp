#include "platform/sim/audio_world.hpp"

#include <algorithm>

#include "platform/sim/audio_world_state.hpp"
#include "platform/sim/world_file.hpp"
#include "platform/uuid.hpp"

namespace ombri::sim {

using namespace hal;

AudioWorldSpec AudioWorldSpec::standard() {
  AudioWorldSpec spec;
  DeviceSpec mic;
  mic.uid = "BuiltInMicrophoneDevice";
  mic.name = "Built-in Microphone";
  mic.input = platform::pcm_format(48000.0, 1, platform::PcmKind::F32);
  DeviceSpec speakers;
  speakers.uid = "BuiltInSpeakerDevice";
  speakers.name = "Built-in Output";
  speakers.output = platform::pcm_format(48000.0, 2, platform::PcmKind::F32);
  spec.devices = {mic, speakers};
  spec.default_input = mic.uid;
  spec.default_output = speakers.uid;
  return spec;
}

AudioWorld::AudioWorld(AudioWorldSpec spec) : state_(std::make_unique<State>()) {
  State& s = *state_;
  for (auto& device : spec.devices) add_device(std::move(device));
  if (spec.default_input) s.default_input = device_id(*spec.default_input);
  if (spec.default_output) s.default_output = device_id(*spec.default_output);
  s.tap_template = std::move(spec.tap);
  s.notifications.clear();
  s.notifier = std::thread([&s] { s.run_notifier(); });
}

AudioWorld::~AudioWorld() {
  State& s = *state_;
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(s.mutex);
    s.shutting_down = true;
    for (auto& [id, entry] : s.procs) {
      entry->started = false;
      if (entry->runner.joinable()) threads.push_back(std::move(entry->runner));
    }
    for (auto& runner : s.finished_runners) threads.push_back(std::move(runner));
    s.changed.notify_all();
  }
  for (auto& thread : threads) thread.join();
  s.notifier.join();
}

bool AudioWorld::State::object_exists(AudioObjectID id) const {
  return id == kAudioObjectSystemObject || devices.count(id) || taps.count(id) || aggregates.count(id);
}

void AudioWorld::State::notify(AudioObjectID object, AudioObjectPropertySelector selector) {
  notifications.emplace_back(
      object, AudioObjectPropertyAddress{selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain});
  changed.notify_all();
}

void AudioWorld::State::set_default(AudioObjectID& slot, AudioObjectPropertySelector selector, AudioObjectID device) {
  if (slot == device) return;
  slot = device;
  notify(kAudioObjectSystemObject, selector);
}

std::size_t AudioWorld::State::running_procs_on(AudioObjectID device) const {
  return static_cast<std::size_t>(std::count_if(procs.begin(), procs.end(), [&](const auto& item) {
    return item.second->device == device && item.second->started;
  }));
}

// ---- test controls ----

AudioObjectID AudioWorld::device_id(std::string_view uid) const {
  std::lock_guard lock(state_->mutex);
  for (const auto& [id, device] : state_->devices)
    if (device.spec.uid == uid) return id;
  return kAudioObjectUnknown;
}

AudioObjectID AudioWorld::add_device(DeviceSpec spec) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  const AudioObjectID id = s.next_object_id++;
  if (spec.uid.empty()) spec.uid = "device-" + std::to_string(id);
  s.device_order.push_back(id);
  s.devices.emplace(id, DeviceObject{std::move(spec), s.next_generation++, {}});
  s.notify(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
  return id;
}

void AudioWorld::fail(Fault fault) {
  State& s = *state_;
  std::lock_guard lock(s.fault_mutex);
  s.faults.push_back(fault);
  s.armed_faults.fetch_add(1, std::memory_order_release);
}

void AudioWorld::set_alive(AudioObjectID device, bool alive) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  auto it = s.devices.find(device);
  if (it == s.devices.end() || it->second.spec.alive == alive) return;
  it->second.spec.alive = alive;
  s.notify(device, kAudioDevicePropertyDeviceIsAlive);
  s.notify(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
  if (!alive && s.default_input == device)
    s.set_default(s.default_input, kAudioHardwarePropertyDefaultInputDevice, kAudioObjectUnknown);
  if (!alive && s.default_output == device)
    s.set_default(s.default_output, kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectUnknown);
}

void AudioWorld::set_default_input(AudioObjectID device) {
  std::lock_guard lock(state_->mutex);
  state_->set_default(state_->default_input, kAudioHardwarePropertyDefaultInputDevice, device);
}

void AudioWorld::set_default_output(AudioObjectID device) {
  std::lock_guard lock(state_->mutex);
  state_->set_default(state_->default_output, kAudioHardwarePropertyDefaultOutputDevice, device);
}

void AudioWorld::set_running_somewhere(AudioObjectID device, bool running) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (auto it = s.devices.find(device); it != s.devices.end()) {
    it->second.spec.running_somewhere = running;
    s.notify(device, kAudioDevicePropertyDeviceIsRunningSomewhere);
  }
}

void AudioWorld::set_name(AudioObjectID device, StringRef name) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (auto it = s.devices.find(device); it != s.devices.end()) {
    it->second.spec.name = std::move(name);
    s.notify(device, kAudioObjectPropertyName);
  }
}

void AudioWorld::set_stream_format(AudioObjectID device, AudioObjectPropertyScope scope,
                                   std::optional<AudioStreamBasicDescription> format) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  auto it = s.devices.find(device);
  if (it == s.devices.end()) return;
  (scope == kAudioDevicePropertyScopeInput ? it->second.spec.input : it->second.spec.output) = format;
  s.notify(device, kAudioDevicePropertyStreamFormat);
}

void AudioWorld::set_signal(AudioObjectID device, Signal signal) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (auto it = s.devices.find(device); it != s.devices.end()) {
    it->second.spec.signal = std::move(signal);
    it->second.signal_generation = s.next_generation++;
  }
}

void AudioWorld::set_tap_signal(Signal signal) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  s.tap_template.signal = signal;
  for (auto& [id, tap] : s.taps) {
    tap.signal = signal;
    tap.signal_generation = s.next_generation++;
  }
}

void AudioWorld::set_tap_rate(double sample_rate) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  s.tap_template.format.mSampleRate = sample_rate;
  for (auto& [id, tap] : s.taps) {
    tap.format.mSampleRate = sample_rate;
    s.notify(id, kAudioTapPropertyFormat);
  }
}

// ---- observations ----

std::size_t AudioWorld::running_io_procs(AudioObjectID device) const {
  std::lock_guard lock(state_->mutex);
  return state_->running_procs_on(device);
}

OutputCounters AudioWorld::output_counters(AudioObjectID device) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->devices.find(device);
  return it == state_->devices.end() ? OutputCounters{} : it->second.counters;
}

std::vector<AudioObjectID> AudioWorld::taps() const {
  std::lock_guard lock(state_->mutex);
  std::vector<AudioObjectID> ids;
  for (const auto& [id, tap] : state_->taps) ids.push_back(id);
  return ids;
}

std::vector<AudioObjectID> AudioWorld::aggregate_devices() const {
  std::lock_guard lock(state_->mutex);
  std::vector<AudioObjectID> ids;
  for (const auto& [id, description] : state_->aggregates) ids.push_back(id);
  return ids;
}

std::optional<AggregateDeviceDescription> AudioWorld::aggregate_description(AudioObjectID device) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->aggregates.find(device);
  if (it == state_->aggregates.end()) return std::nullopt;
  return it->second;
}

std::size_t AudioWorld::property_listener_count() const {
  std::lock_guard lock(state_->mutex);
  return state_->listeners.size();
}

// ---- faults ----

std::optional<OSStatus> AudioWorld::take_fault(Call call, AudioObjectID object,
                                               const AudioObjectPropertyAddress* address) {
  State& s = *state_;
  if (s.armed_faults.load(std::memory_order_acquire) == 0) return std::nullopt;
  std::lock_guard lock(s.fault_mutex);
  for (auto it = s.faults.begin(); it != s.faults.end(); ++it) {
    if (it->call != call || (it->object && *it->object != object)) continue;
    if (it->selector && (!address || address->mSelector != *it->selector)) continue;
    if (it->scope && (!address || address->mScope != *it->scope)) continue;
    const OSStatus status = it->status;
    if (it->remaining > 0 && --it->remaining == 0) {
      s.faults.erase(it);
      s.armed_faults.fetch_sub(1, std::memory_order_release);
    }
    return status;
  }
  return std::nullopt;
}

// ---- properties ----

namespace {

OSStatus stream_format(const DeviceSpec& spec, AudioObjectPropertyScope scope, PropertyValue& value) {
  const auto& format = scope == kAudioDevicePropertyScopeInput    ? spec.input
                       : scope == kAudioDevicePropertyScopeOutput ? spec.output
                                                                  : std::nullopt;
  if (!format) return kAudioHardwareUnknownPropertyError;
  value = *format;
  return kAudioHardwareNoError;
}

}  // namespace

OSStatus AudioWorld::get_property(AudioObjectID object, const AudioObjectPropertyAddress& address, PropertyValue& value,
                                  Call call) {
  if (auto fault = take_fault(call, object, &address)) return *fault;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  const auto selector = address.mSelector;

  if (object == kAudioObjectSystemObject) {
    if (selector == kAudioHardwarePropertyDevices) {
      std::vector<AudioObjectID> list;
      for (AudioObjectID id : s.device_order)
        if (s.devices.at(id).spec.alive) list.push_back(id);
      for (const auto& [id, description] : s.aggregates) list.push_back(id);
      value = std::move(list);
      return kAudioHardwareNoError;
    }
    if (selector == kAudioHardwarePropertyDefaultInputDevice || selector == kAudioHardwarePropertyDefaultOutputDevice) {
      const AudioObjectID id =
          selector == kAudioHardwarePropertyDefaultInputDevice ? s.default_input : s.default_output;
      if (id == kAudioObjectUnknown) return kAudioHardwareBadDeviceError;
      value = id;
      return kAudioHardwareNoError;
    }
    return kAudioHardwareUnknownPropertyError;
  }

  if (auto it = s.devices.find(object); it != s.devices.end()) {
    const DeviceSpec& spec = it->second.spec;
    switch (selector) {
      case kAudioObjectPropertyName:
        value = spec.name;
        return kAudioHardwareNoError;
      case kAudioDevicePropertyDeviceUID:
        value = StringRef(spec.uid);
        return kAudioHardwareNoError;
      case kAudioDevicePropertyTransportType:
        value = spec.transport;
        return kAudioHardwareNoError;
      case kAudioDevicePropertyDeviceIsAlive:
        value = std::uint32_t(spec.alive);
        return kAudioHardwareNoError;
      case kAudioDevicePropertyDeviceIsRunningSomewhere:
        value = std::uint32_t(spec.running_somewhere || s.running_procs_on(object) > 0);
        return kAudioHardwareNoError;
      case kAudioDevicePropertyStreamFormat:
        return stream_format(spec, address.mScope, value);
      case kAudioDevicePropertyBufferFrameSize:
        value = spec.buffer_frames;
        return kAudioHardwareNoError;
      case kAudioDevicePropertyBufferFrameSizeRange:
        value = spec.buffer_frame_range;
        return kAudioHardwareNoError;
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }

  if (auto it = s.taps.find(object); it != s.taps.end()) {
    if (selector == kAudioTapPropertyUID)
      value = StringRef(it->second.uid);
    else if (selector == kAudioTapPropertyFormat)
      value = it->second.format;
    else
      return kAudioHardwareUnknownPropertyError;
    return kAudioHardwareNoError;
  }

  if (auto it = s.aggregates.find(object); it != s.aggregates.end()) {
    const AggregateDeviceDescription& description = it->second;
    const TapObject* first_tap = nullptr;
    for (const auto& sub : description.taps)
      for (const auto& [id, tap] : s.taps)
        if (!first_tap && tap.uid == sub.uid) first_tap = &tap;
    switch (selector) {
      case kAudioObjectPropertyName:
        value = StringRef(description.name);
        return kAudioHardwareNoError;
      case kAudioDevicePropertyDeviceUID:
        value = StringRef(description.uid);
        return kAudioHardwareNoError;
      case kAudioDevicePropertyTransportType:
        value = kAudioDeviceTransportTypeAggregate;
        return kAudioHardwareNoError;
      case kAudioDevicePropertyDeviceIsAlive:
        value = std::uint32_t(1);
        return kAudioHardwareNoError;
      case kAudioDevicePropertyDeviceIsRunningSomewhere:
        value = std::uint32_t(s.running_procs_on(object) > 0);
        return kAudioHardwareNoError;
      case kAudioDevicePropertyStreamFormat:
        if (address.mScope != kAudioDevicePropertyScopeInput || !first_tap) return kAudioHardwareUnknownPropertyError;
        value = first_tap->format;
        return kAudioHardwareNoError;
      case kAudioDevicePropertyBufferFrameSize:
        if (!first_tap) return kAudioHardwareUnknownPropertyError;
        value = first_tap->buffer_frames;
        return kAudioHardwareNoError;
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  return kAudioHardwareBadObjectError;
}

// ---- taps and aggregate devices ----

OSStatus AudioWorld::create_tap(const TapDescription&, AudioObjectID& tap) {
  if (auto fault = take_fault(Call::CreateProcessTap)) return *fault;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  tap = s.next_object_id++;
  s.taps.emplace(tap, TapObject{platform::new_uuid_string(), s.tap_template.format, s.tap_template.signal,
                                s.next_generation++, s.tap_template.buffer_frames});
  return kAudioHardwareNoError;
}

OSStatus AudioWorld::destroy_tap(AudioObjectID tap) {
  if (auto fault = take_fault(Call::DestroyProcessTap, tap)) return *fault;
  std::lock_guard lock(state_->mutex);
  return state_->taps.erase(tap) ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

OSStatus AudioWorld::create_aggregate(const AggregateDeviceDescription& description, AudioObjectID& device) {
  if (auto fault = take_fault(Call::CreateAggregateDevice)) return *fault;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (description.uid.empty()) return platform::kAudio_ParamError;
  for (const auto& [id, existing] : s.aggregates)
    if (existing.uid == description.uid) return kAudioHardwareIllegalOperationError;
  for (const auto& sub : description.taps) {
    const bool known =
        std::any_of(s.taps.begin(), s.taps.end(), [&](const auto& t) { return t.second.uid == sub.uid; });
    if (!known) return kAudioHardwareIllegalOperationError;
  }
  device = s.next_object_id++;
  s.aggregates.emplace(device, description);
  s.notify(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
  return kAudioHardwareNoError;
}

OSStatus AudioWorld::destroy_aggregate(AudioObjectID device) {
  if (auto fault = take_fault(Call::DestroyAggregateDevice, device)) return *fault;
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  if (!s.aggregates.count(device)) return kAudioHardwareBadObjectError;
  std::vector<std::shared_ptr<IoProcEntry>> owned;
  for (const auto& [id, entry] : s.procs)
    if (entry->device == device) owned.push_back(entry);
  for (const auto& entry : owned) {
    s.stop_proc(lock, entry);
    s.procs.erase(entry->id);
  }
  s.aggregates.erase(device);
  s.notify(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
  return kAudioHardwareNoError;
}

AudioWorld& audio_world() {
  return current_world<AudioWorld, AudioWorldSpec>("OMBRI_SIM_AUDIO", load_audio_world_file);
}

}  // namespace ombri::sim
