// IO procs of the simulated world: each started proc gets a thread that
// plays the hardware, one buffer at a time at the device's sample rate.

#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/sim/audio_world_state.hpp"

namespace ombri::sim {

using namespace hal;

namespace {

constexpr unsigned char kOutputPattern = 0x7F;

std::shared_ptr<IoProcEntry> find_proc(AudioWorld::State& s, AudioObjectID device, AudioDeviceIOProcID id) {
  auto it = s.procs.find(id);
  if (it == s.procs.end() || it->second->device != device) return nullptr;
  return it->second;
}

// One cycle's buffers, filled under the world's lock from what the device
// (or the aggregate's first tap) is at that moment.
struct Cycle {
  SignalCursor cursor;
  std::vector<float> signal;
  std::vector<unsigned char> input_bytes;
  std::vector<unsigned char> output_bytes;
  AudioBuffer input_buffer{};
  AudioBuffer output_buffer{};
  AudioBufferList input{0, &input_buffer};
  AudioBufferList output{0, &output_buffer};
  std::optional<AudioStreamBasicDescription> output_format;
  std::uint32_t frames = 0;
  double rate = 0.0;

  bool prepare(AudioWorld::State& s, AudioObjectID device);
  void count_output(OutputCounters& counters) const;
};

bool Cycle::prepare(AudioWorld::State& s, AudioObjectID device) {
  std::optional<AudioStreamBasicDescription> input_format;
  const Signal* source = nullptr;
  std::uint64_t generation = 0;
  output_format.reset();
  if (auto it = s.devices.find(device); it != s.devices.end()) {
    const DeviceObject& object = it->second;
    if (!object.spec.alive) return false;
    input_format = object.spec.input;
    output_format = object.spec.output;
    source = &object.spec.signal;
    generation = object.signal_generation;
    frames = object.spec.buffer_frames;
  } else if (auto agg = s.aggregates.find(device); agg != s.aggregates.end()) {
    for (const auto& sub : agg->second.taps) {
      for (const auto& [id, tap] : s.taps) {
        if (tap.uid != sub.uid || input_format) continue;
        input_format = tap.format;
        source = &tap.signal;
        generation = tap.signal_generation;
        frames = tap.buffer_frames;
      }
    }
  }
  rate = input_format ? input_format->mSampleRate : output_format ? output_format->mSampleRate : 0.0;
  if (!std::isfinite(rate) || rate <= 0.0 || frames == 0) return false;

  input.mNumberBuffers = 0;
  if (input_format) {
    const std::uint32_t channels = std::max<std::uint32_t>(input_format->mChannelsPerFrame, 1);
    signal.resize(std::size_t{frames} * channels);
    cursor.fill(*source, generation, rate, channels, signal);
    input_bytes.resize(platform::pcm_bytes(signal.size(), *input_format));
    platform::encode_pcm(signal, *input_format, input_bytes.data());
    input_buffer = {channels, static_cast<std::uint32_t>(input_bytes.size()), input_bytes.data()};
    input.mNumberBuffers = 1;
  }
  output.mNumberBuffers = 0;
  if (output_format) {
    output_bytes.assign(std::size_t{frames} * output_format->mBytesPerFrame, kOutputPattern);
    output_buffer = {output_format->mChannelsPerFrame, static_cast<std::uint32_t>(output_bytes.size()),
                     output_bytes.data()};
    output.mNumberBuffers = 1;
  }
  return true;
}

void Cycle::count_output(OutputCounters& counters) const {
  if (!output_format) return;
  ++counters.buffers;
  if (platform::pcm_kind(*output_format) == platform::PcmKind::F32) {
    for (std::size_t i = 0; i + 4 <= output_bytes.size(); i += 4) {
      float value;
      std::memcpy(&value, output_bytes.data() + i, 4);
      counters.nonzero_samples += value != 0.0f;
    }
  } else {
    for (unsigned char byte : output_bytes) counters.nonzero_samples += byte != 0;
  }
}

}  // namespace

void run_io_proc(AudioWorld::State& s, std::shared_ptr<IoProcEntry> entry, std::uint64_t generation) {
  using Clock = std::chrono::steady_clock;
  Cycle cycle;
  double sample_time = 0.0;
  auto next = Clock::now();
  std::unique_lock lock(s.mutex);
  const auto stopped = [&] { return !entry->started || entry->run_generation != generation; };
  while (!stopped()) {
    if (!cycle.prepare(s, entry->device)) {
      // Nothing to clock (device gone, no format): idle like unplugged hardware.
      s.changed.wait_for(lock, std::chrono::milliseconds(20), stopped);
      next = Clock::now();
      continue;
    }
    ++entry->in_flight;
    lock.unlock();
    const AudioTimeStamp stamp{sample_time, host_time_now(),
                               kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid};
    entry->proc(entry->device, &stamp, &cycle.input, &stamp, &cycle.output, &stamp, entry->client_data);
    lock.lock();
    --entry->in_flight;
    if (auto it = s.devices.find(entry->device); it != s.devices.end()) cycle.count_output(it->second.counters);
    s.changed.notify_all();

    sample_time += cycle.frames;
    next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(cycle.frames / cycle.rate));
    // Hardware that fell far behind (a stopped debugger, a slow sanitizer)
    // picks up from now instead of bursting to catch up.
    if (const auto now = Clock::now(); next + std::chrono::milliseconds(200) < now) next = now;
    s.changed.wait_until(lock, next, stopped);
  }
}

void AudioWorld::State::stop_proc(std::unique_lock<std::mutex>& lock, const std::shared_ptr<IoProcEntry>& entry) {
  entry->started = false;
  changed.notify_all();
  if (entry->runner_id == std::this_thread::get_id()) {
    // Stopped from inside the proc: this call returns into the runner, which then ends.
    if (entry->runner.joinable()) finished_runners.push_back(std::move(entry->runner));
    return;
  }
  changed.wait(lock, [&] { return entry->in_flight == 0; });
  std::thread runner = std::move(entry->runner);
  if (runner.joinable()) {
    lock.unlock();
    runner.join();
    lock.lock();
  }
}

OSStatus AudioWorld::create_io_proc(AudioObjectID device, AudioDeviceIOProc proc, void* client_data,
                                    AudioDeviceIOProcID& proc_id) {
  if (auto fault = take_fault(Call::CreateIOProcID, device)) return *fault;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (!s.devices.count(device) && !s.aggregates.count(device)) return kAudioHardwareBadObjectError;
  if (!proc) return platform::kAudio_ParamError;
  auto entry = std::make_shared<IoProcEntry>();
  entry->id = s.next_proc_id++;
  entry->device = device;
  entry->proc = proc;
  entry->client_data = client_data;
  s.procs.emplace(entry->id, entry);
  proc_id = entry->id;
  return kAudioHardwareNoError;
}

OSStatus AudioWorld::destroy_io_proc(AudioObjectID device, AudioDeviceIOProcID proc_id) {
  if (auto fault = take_fault(Call::DestroyIOProcID, device)) return *fault;
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  auto entry = find_proc(s, device, proc_id);
  if (!entry) return kAudioHardwareBadObjectError;
  s.stop_proc(lock, entry);
  s.procs.erase(proc_id);
  return kAudioHardwareNoError;
}

OSStatus AudioWorld::start(AudioObjectID device, AudioDeviceIOProcID proc_id) {
  if (auto fault = take_fault(Call::DeviceStart, device)) return *fault;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  auto entry = find_proc(s, device, proc_id);
  if (!entry) return kAudioHardwareBadObjectError;
  if (auto it = s.devices.find(device); it != s.devices.end() && !it->second.spec.alive)
    return kAudioHardwareBadDeviceError;
  if (entry->started) return kAudioHardwareNoError;
  if (entry->runner.joinable()) s.finished_runners.push_back(std::move(entry->runner));
  entry->started = true;
  const std::uint64_t generation = ++entry->run_generation;
  entry->runner = std::thread(run_io_proc, std::ref(s), entry, generation);
  entry->runner_id = entry->runner.get_id();
  return kAudioHardwareNoError;
}

OSStatus AudioWorld::stop(AudioObjectID device, AudioDeviceIOProcID proc_id) {
  if (auto fault = take_fault(Call::DeviceStop, device)) return *fault;
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  auto entry = find_proc(s, device, proc_id);
  if (!entry) return kAudioHardwareBadObjectError;
  if (entry->started) s.stop_proc(lock, entry);
  return kAudioHardwareNoError;
}

}  // namespace ombri::sim
