#include "platform/hal.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"
#include "platform/sim/status_text.hpp"
#include "platform_test_support.hpp"

namespace ombri {
namespace {

using namespace hal;
using platform::pcm_format;
using platform::PcmKind;
using sim::Call;
using sim::Fault;
using sim::ScopedAudioWorld;
using test::eventually;
using test::global;
using test::scoped;

sim::AudioWorldSpec headset_world() {
  auto spec = sim::AudioWorldSpec::standard();
  sim::DeviceSpec headset;
  headset.uid = "headset";
  headset.name = "Headset";
  headset.transport = kAudioDeviceTransportTypeBluetooth;
  headset.input = pcm_format(16000.0, 1, PcmKind::I16);
  headset.output = pcm_format(16000.0, 1, PcmKind::I16);
  headset.running_somewhere = true;
  spec.devices.push_back(headset);
  spec.default_input = "headset";
  return spec;
}

TEST(PlatformHal, PropertiesOfTheSystemAndItsDevices) {
  ScopedAudioWorld world(headset_world());
  const AudioObjectID mic = world->device_id("BuiltInMicrophoneDevice");
  const AudioObjectID speakers = world->device_id("BuiltInSpeakerDevice");
  const AudioObjectID headset = world->device_id("headset");

  std::vector<AudioObjectID> devices;
  ASSERT_EQ(get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), devices), 0);
  EXPECT_EQ(devices, (std::vector<AudioObjectID>{mic, speakers, headset}));
  std::uint32_t size = 0;
  ASSERT_EQ(get_property_data_size(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), size), 0);
  EXPECT_EQ(size, 12u);

  AudioObjectID id = 0;
  ASSERT_EQ(get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultInputDevice), id), 0);
  EXPECT_EQ(id, headset);
  ASSERT_EQ(get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultOutputDevice), id), 0);
  EXPECT_EQ(id, speakers);

  struct Case {
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    PropertyValue expected;
  };
  const Case cases[] = {
      {mic, global(kAudioObjectPropertyName), StringRef("Built-in Microphone")},
      {mic, scoped(kAudioObjectPropertyName, kAudioDevicePropertyScopeOutput), StringRef("Built-in Microphone")},
      {mic, global(kAudioDevicePropertyTransportType), kAudioDeviceTransportTypeBuiltIn},
      {headset, global(kAudioDevicePropertyTransportType), kAudioDeviceTransportTypeBluetooth},
      {headset, global(kAudioDevicePropertyDeviceIsRunningSomewhere), std::uint32_t(1)},
      {mic, global(kAudioDevicePropertyDeviceIsRunningSomewhere), std::uint32_t(0)},
      {mic, global(kAudioDevicePropertyDeviceIsAlive), std::uint32_t(1)},
      {mic, global(kAudioDevicePropertyBufferFrameSize), std::uint32_t(512)},
      {mic, global(kAudioDevicePropertyBufferFrameSizeRange), AudioValueRange{15.0, 4096.0}},
      {mic, scoped(kAudioDevicePropertyStreamFormat, kAudioDevicePropertyScopeInput),
       pcm_format(48000.0, 1, PcmKind::F32)},
      {speakers, scoped(kAudioDevicePropertyStreamFormat, kAudioDevicePropertyScopeOutput),
       pcm_format(48000.0, 2, PcmKind::F32)},
  };
  for (const Case& c : cases) {
    PropertyValue value;
    ASSERT_EQ(get_property_value(c.object, c.address, value), 0) << platform::status_text(c.address.mSelector);
    ASSERT_EQ(value.index(), c.expected.index());
    if (auto* format = std::get_if<AudioStreamBasicDescription>(&value)) {
      EXPECT_EQ(std::memcmp(format, &std::get<AudioStreamBasicDescription>(c.expected), sizeof *format), 0);
    } else if (auto* range = std::get_if<AudioValueRange>(&value)) {
      EXPECT_EQ(range->mMaximum, std::get<AudioValueRange>(c.expected).mMaximum);
    } else if (auto* text = std::get_if<StringRef>(&value)) {
      EXPECT_EQ(*text, std::get<StringRef>(c.expected));
    } else {
      EXPECT_EQ(std::get<std::uint32_t>(value), std::get<std::uint32_t>(c.expected));
    }
  }
}

TEST(PlatformHal, ReadsThatFail) {
  ScopedAudioWorld world;
  const AudioObjectID mic = world->device_id("BuiltInMicrophoneDevice");
  std::uint32_t number = 0;
  AudioStreamBasicDescription format{};
  StringRef name;
  // A microphone has no output stream; an unknown selector, object or wrong type.
  EXPECT_EQ(get_property_data(mic, scoped(kAudioDevicePropertyStreamFormat, kAudioDevicePropertyScopeOutput), format),
            kAudioHardwareUnknownPropertyError);
  EXPECT_EQ(get_property_data(mic, global(fourcc("zzzz")), number), kAudioHardwareUnknownPropertyError);
  EXPECT_EQ(get_property_data(4242, global(kAudioObjectPropertyName), name), kAudioHardwareBadObjectError);
  EXPECT_EQ(get_property_data(mic, global(kAudioObjectPropertyName), number), kAudioHardwareBadPropertySizeError);

  // A fault hits the matching calls only, as many times as asked.
  world->fail(Fault(Call::GetPropertyData, -50).on(mic).property(kAudioObjectPropertyName).times(2));
  EXPECT_EQ(get_property_data(mic, global(kAudioDevicePropertyTransportType), number), 0);
  EXPECT_EQ(get_property_data(mic, global(kAudioObjectPropertyName), name), -50);
  EXPECT_EQ(get_property_data(mic, global(kAudioObjectPropertyName), name), -50);
  EXPECT_EQ(get_property_data(mic, global(kAudioObjectPropertyName), name), 0);
  EXPECT_EQ(name, "Built-in Microphone");

  // A list is read as its size, then its data: each of the two can fail alone.
  std::vector<AudioObjectID> devices;
  world->fail(Fault(Call::GetPropertyData, -50).property(kAudioHardwarePropertyDevices));
  EXPECT_EQ(get_property_data_size(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), number), 0);
  EXPECT_EQ(number, 8u);
  EXPECT_EQ(get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), devices), -50);

  world->fail(Fault(Call::GetPropertyDataSize, kAudioHardwareUnspecifiedError).always());
  EXPECT_EQ(get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), devices), 0);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(get_property_data_size(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), number),
              kAudioHardwareUnspecifiedError);

  // No default device: the read fails. A null name reads as a null reference.
  world->set_default_input(kAudioObjectUnknown);
  AudioObjectID id = 0;
  EXPECT_EQ(get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultInputDevice), id),
            kAudioHardwareBadDeviceError);
  world->set_name(mic, std::nullopt);
  ASSERT_EQ(get_property_data(mic, global(kAudioObjectPropertyName), name), 0);
  EXPECT_FALSE(name.has_value());
}

struct Notifications {
  std::mutex mutex;
  std::vector<std::pair<AudioObjectID, AudioObjectPropertySelector>> seen;
  std::thread::id thread;
  std::atomic<bool> slow{false};
  std::atomic<bool> inside{false};

  static OSStatus record(AudioObjectID object, std::uint32_t count, const AudioObjectPropertyAddress* addresses,
                         void* client) {
    auto& self = *static_cast<Notifications*>(client);
    self.inside = true;
    if (self.slow) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
      std::lock_guard lock(self.mutex);
      for (std::uint32_t i = 0; i < count; ++i) self.seen.emplace_back(object, addresses[i].mSelector);
      self.thread = std::this_thread::get_id();
    }
    self.inside = false;
    return 0;
  }
  std::size_t count() {
    std::lock_guard lock(mutex);
    return seen.size();
  }
};

TEST(PlatformHal, ListenersHearChangesOnTheLayersThread) {
  ScopedAudioWorld world(headset_world());
  const AudioObjectID mic = world->device_id("BuiltInMicrophoneDevice");
  const AudioObjectID headset = world->device_id("headset");
  Notifications defaults, alive;
  ASSERT_EQ(add_property_listener(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultInputDevice),
                                  Notifications::record, &defaults),
            0);
  ASSERT_EQ(add_property_listener(headset, global(kAudioDevicePropertyDeviceIsAlive), Notifications::record, &alive),
            0);
  EXPECT_EQ(add_property_listener(4242, global(kAudioDevicePropertyDeviceIsAlive), Notifications::record, &alive),
            kAudioHardwareBadObjectError);

  world->set_default_input(mic);
  ASSERT_TRUE(eventually([&] { return defaults.count() == 1; }));
  world->set_alive(headset, false);  // unplugged
  ASSERT_TRUE(eventually([&] { return alive.count() == 1; }));
  {
    std::lock_guard lock(alive.mutex);
    EXPECT_EQ(alive.seen[0], std::make_pair(headset, kAudioDevicePropertyDeviceIsAlive));
    EXPECT_NE(alive.thread, std::this_thread::get_id());
  }
  std::vector<AudioObjectID> devices;
  ASSERT_EQ(get_property_data(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), devices), 0);
  EXPECT_EQ(std::count(devices.begin(), devices.end(), headset), 0);

  ASSERT_EQ(remove_property_listener(headset, global(kAudioDevicePropertyDeviceIsAlive), Notifications::record, &alive),
            0);
  EXPECT_EQ(remove_property_listener(headset, global(kAudioDevicePropertyDeviceIsAlive), Notifications::record, &alive),
            kAudioHardwareIllegalOperationError);
  world->set_alive(headset, true);
  world->set_default_input(headset);
  ASSERT_TRUE(eventually([&] { return defaults.count() == 2; }));
  EXPECT_EQ(alive.count(), 1u);  // removed before the replug
  EXPECT_EQ(remove_property_listener(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultInputDevice),
                                     Notifications::record, &defaults),
            0);
}

TEST(PlatformHal, RemovingAListenerWaitsForItsCallInFlight) {
  ScopedAudioWorld world;
  const AudioObjectID mic = world->device_id("BuiltInMicrophoneDevice");
  Notifications slow;
  slow.slow = true;
  ASSERT_EQ(add_property_listener(mic, global(kAudioDevicePropertyDeviceIsAlive), Notifications::record, &slow), 0);
  world->set_alive(mic, false);
  ASSERT_TRUE(eventually([&] { return slow.inside.load(); }));
  ASSERT_EQ(remove_property_listener(mic, global(kAudioDevicePropertyDeviceIsAlive), Notifications::record, &slow), 0);
  EXPECT_FALSE(slow.inside.load());
  EXPECT_EQ(world->property_listener_count(), 0u);
}

// Counts the calls of an IO proc and keeps the first input buffer's bytes.
struct Recorder {
  std::atomic<int> calls{0};
  std::atomic<bool> inside{false};
  std::atomic<int> sleep_ms{0};
  std::mutex mutex;
  std::vector<unsigned char> first;
  std::uint32_t buffers_in_first = 0;

  static OSStatus proc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList* input, const AudioTimeStamp*,
                       AudioBufferList*, const AudioTimeStamp*, void* client) {
    auto& self = *static_cast<Recorder*>(client);
    self.inside = true;
    if (self.calls.fetch_add(1) == 0) {
      std::lock_guard lock(self.mutex);
      self.buffers_in_first = input->mNumberBuffers;
      const auto* data = static_cast<const unsigned char*>(input->mBuffers[0].mData);
      self.first.assign(data, data + input->mBuffers[0].mDataByteSize);
    }
    if (int ms = self.sleep_ms.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    self.inside = false;
    return 0;
  }
};

AggregateDeviceDescription aggregate_over(AudioObjectID tap) {
  StringRef uid;
  EXPECT_EQ(get_property_data(tap, global(kAudioTapPropertyUID), uid), 0);
  return {true, false, "test-tap", "aggregate-uid", {{uid.value_or("")}}};
}

TEST(PlatformHal, TapAndAggregateDeviceLifeCycle) {
  ScopedAudioWorld world;
  AudioObjectID tap_id = 0;
  ASSERT_EQ(create_process_tap(TapDescription::mono_global_excluding({}), tap_id), 0);
  ProcessTap tap(tap_id);
  AudioStreamBasicDescription format{};
  ASSERT_EQ(get_property_data(tap.get(), global(kAudioTapPropertyFormat), format), 0);
  EXPECT_EQ(format.mSampleRate, 48000.0);
  EXPECT_EQ(format.mChannelsPerFrame, 1u);
  std::uint32_t size = 0;
  ASSERT_EQ(get_property_data_size(tap.get(), global(kAudioTapPropertyFormat), size), 0);
  EXPECT_EQ(size, 40u);

  AudioObjectID device_id = 0;
  AggregateDeviceDescription bad = aggregate_over(tap.get());
  bad.taps[0].uid = "no such tap";
  EXPECT_EQ(create_aggregate_device(bad, device_id), kAudioHardwareIllegalOperationError);
  ASSERT_EQ(create_aggregate_device(aggregate_over(tap.get()), device_id), 0);
  AggregateDevice device(device_id);
  EXPECT_EQ(world->aggregate_description(device.get())->name, "test-tap");
  std::uint32_t transport = 0;
  ASSERT_EQ(get_property_data(device.get(), global(kAudioDevicePropertyTransportType), transport), 0);
  EXPECT_EQ(transport, kAudioDeviceTransportTypeAggregate);

  Recorder recorder;
  AudioDeviceIOProcID proc = 0;
  ASSERT_EQ(create_io_proc_id(device.get(), Recorder::proc, &recorder, proc), 0);
  ASSERT_EQ(device_start(device.get(), proc), 0);
  ASSERT_TRUE(eventually([&] { return recorder.calls >= 2; }));

  // Destroying the device stops its proc; releasing the owners destroys both objects.
  device.reset();
  const int calls = recorder.calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(recorder.calls, calls);
  EXPECT_TRUE(world->aggregate_devices().empty());
  tap.reset();
  EXPECT_TRUE(world->taps().empty());
  EXPECT_EQ(destroy_process_tap(tap_id), kAudioHardwareBadObjectError);
}

TEST(PlatformHal, CreationCallsFailOnRequest) {
  ScopedAudioWorld world;
  AudioObjectID tap = 0;
  world->fail(Fault(Call::CreateProcessTap, kAudioHardwareIllegalOperationError));
  EXPECT_EQ(create_process_tap(TapDescription::mono_global_excluding({}), tap), kAudioHardwareIllegalOperationError);
  ASSERT_EQ(create_process_tap(TapDescription::mono_global_excluding({}), tap), 0);
  ProcessTap owner(tap);
  AudioObjectID device = 0;
  world->fail(Fault(Call::CreateAggregateDevice, -50));
  EXPECT_EQ(create_aggregate_device(aggregate_over(tap), device), -50);
  ASSERT_EQ(create_aggregate_device(aggregate_over(tap), device), 0);
  AggregateDevice device_owner(device);
  Recorder recorder;
  AudioDeviceIOProcID proc = 0;
  world->fail(Fault(Call::CreateIOProcID, kAudioHardwareBadDeviceError).on(device));
  EXPECT_EQ(create_io_proc_id(device, Recorder::proc, &recorder, proc), kAudioHardwareBadDeviceError);
  ASSERT_EQ(create_io_proc_id(device, Recorder::proc, &recorder, proc), 0);
  world->fail(Fault(Call::DeviceStart, kAudioHardwareNotRunningError).on(device));
  EXPECT_EQ(device_start(device, proc), kAudioHardwareNotRunningError);
  EXPECT_EQ(world->running_io_procs(device), 0u);
  EXPECT_EQ(recorder.calls, 0);
}

TEST(PlatformHal, StartedProcGetsBuffersAtTheTapRateAndNoneAfterStop) {
  auto spec = sim::AudioWorldSpec::standard();
  spec.tap.format = pcm_format(48000.0, 1, PcmKind::I16);
  spec.tap.buffer_frames = 480;  // 10 ms
  spec.tap.signal = sim::Samples{{-1.0f, 0.5f, 32767.0f / 32768.0f}, false};
  ScopedAudioWorld world(spec);
  AudioObjectID tap = 0, device = 0;
  ASSERT_EQ(create_process_tap(TapDescription::mono_global_excluding({}), tap), 0);
  ProcessTap tap_owner(tap);
  ASSERT_EQ(create_aggregate_device(aggregate_over(tap), device), 0);
  AggregateDevice device_owner(device);
  Recorder recorder;
  AudioDeviceIOProcID proc = 0;
  ASSERT_EQ(create_io_proc_id(device, Recorder::proc, &recorder, proc), 0);

  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(device_start(device, proc), 0);
  ASSERT_EQ(device_start(device, proc), 0);  // already running: unchanged
  ASSERT_TRUE(eventually([&] { return recorder.calls >= 11; }));
  // Real rate: ten periods of 10 ms lie between the first and the eleventh buffer.
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(95));
  {
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.buffers_in_first, 1u);
    ASSERT_EQ(recorder.first.size(), 960u);  // 480 frames of 2 bytes
    std::int16_t samples[4];
    std::memcpy(samples, recorder.first.data(), sizeof samples);
    EXPECT_EQ(samples[0], -32768);
    EXPECT_EQ(samples[1], 16384);
    EXPECT_EQ(samples[2], 32767);
    EXPECT_EQ(samples[3], 0);  // played once, then silence
  }
  std::uint32_t running = 0;
  ASSERT_EQ(get_property_data(device, global(kAudioDevicePropertyDeviceIsRunningSomewhere), running), 0);
  EXPECT_EQ(running, 1u);

  // Stop returns only once the call in flight is over, and no call follows.
  recorder.sleep_ms = 30;
  ASSERT_TRUE(eventually([&] { return recorder.inside.load(); }));
  ASSERT_EQ(device_stop(device, proc), 0);
  EXPECT_FALSE(recorder.inside.load());
  const int calls = recorder.calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(recorder.calls, calls);
  EXPECT_EQ(world->running_io_procs(device), 0u);
}

TEST(PlatformHal, TapRateChangesMidRunAndIsReadBack) {
  ScopedAudioWorld world;
  AudioObjectID tap = 0;
  ASSERT_EQ(create_process_tap(TapDescription::mono_global_excluding({}), tap), 0);
  ProcessTap owner(tap);
  Notifications format_changes;
  ASSERT_EQ(add_property_listener(tap, global(kAudioTapPropertyFormat), Notifications::record, &format_changes), 0);
  world->set_tap_rate(44100.0);
  ASSERT_TRUE(eventually([&] { return format_changes.count() == 1; }));
  AudioStreamBasicDescription format{};
  ASSERT_EQ(get_property_data(tap, global(kAudioTapPropertyFormat), format), 0);
  EXPECT_EQ(format.mSampleRate, 44100.0);
  ASSERT_EQ(remove_property_listener(tap, global(kAudioTapPropertyFormat), Notifications::record, &format_changes), 0);
}

struct SelfStopper {
  std::atomic<int> calls{0};
  AudioObjectID device = 0;
  AudioDeviceIOProcID proc = 0;
  static OSStatus run(AudioObjectID, const AudioTimeStamp*, const AudioBufferList*, const AudioTimeStamp*,
                      AudioBufferList*, const AudioTimeStamp*, void* client) {
    auto& self = *static_cast<SelfStopper*>(client);
    if (++self.calls == 2) (void)device_stop(self.device, self.proc);
    return 0;
  }
};

TEST(PlatformHal, AProcCanStopItselfAndBeStartedAgain) {
  ScopedAudioWorld world;
  SelfStopper stopper;
  stopper.device = world->device_id("BuiltInMicrophoneDevice");
  ASSERT_EQ(create_io_proc_id(stopper.device, SelfStopper::run, &stopper, stopper.proc), 0);
  ASSERT_EQ(device_start(stopper.device, stopper.proc), 0);
  ASSERT_TRUE(eventually([&] { return world->running_io_procs(stopper.device) == 0; }));
  EXPECT_EQ(stopper.calls, 2);
  ASSERT_EQ(device_start(stopper.device, stopper.proc), 0);
  ASSERT_TRUE(eventually([&] { return stopper.calls >= 3; }));
  EXPECT_EQ(destroy_io_proc_id(stopper.device, stopper.proc), 0);
  EXPECT_EQ(world->running_io_procs(stopper.device), 0u);
}

TEST(PlatformHal, HostTimebaseCanFail) {
  ScopedAudioWorld world;
  HostTimebase timebase{};
  ASSERT_EQ(host_timebase(timebase), 0);
  EXPECT_EQ(timebase.numer, timebase.denom);
  world->fail(Fault(Call::HostTimebase, 5));
  EXPECT_EQ(host_timebase(timebase), 5);
  EXPECT_EQ(host_timebase(timebase), 0);
}

}  // namespace
}  // namespace ombri
