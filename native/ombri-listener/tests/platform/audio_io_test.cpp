#include "platform/audio_io.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/hal.hpp"
#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"
#include "platform_test_support.hpp"

namespace ombri {
namespace {

using namespace audio_io;
using platform::pcm_format;
using platform::PcmKind;
using sim::Call;
using sim::Fault;
using sim::ScopedAudioWorld;
using test::eventually;

sim::DeviceSpec input_device(std::string uid, PcmKind kind, std::uint32_t channels = 1, double rate = 48000.0) {
  sim::DeviceSpec spec;
  spec.name = uid;
  spec.uid = std::move(uid);
  spec.input = pcm_format(rate, channels, kind);
  spec.buffer_frames = 64;
  return spec;
}

// Collects what the callbacks see; the callbacks hold it by shared pointer,
// so a test can tell when the stream has let go of them.
template <class T>
struct Sink {
  std::mutex mutex;
  std::vector<T> samples;
  std::atomic<int> buffers{0};
  std::vector<StreamError> errors;

  std::size_t sample_count() {
    std::lock_guard lock(mutex);
    return samples.size();
  }
  std::size_t error_count() {
    std::lock_guard lock(mutex);
    return errors.size();
  }
};

template <class T>
Result<Stream> build(const Device& device, const std::shared_ptr<Sink<T>>& sink, std::uint16_t channels = 1,
                     std::uint32_t rate = 48000) {
  return device.build_input_stream<T>(
      {channels, rate},
      [sink](std::span<const T> data) {
        std::lock_guard lock(sink->mutex);
        sink->samples.insert(sink->samples.end(), data.begin(), data.end());
        ++sink->buffers;
      },
      [sink](const StreamError& error) {
        std::lock_guard lock(sink->mutex);
        sink->errors.push_back(error);
      });
}

Device enumerated(std::string_view name) {
  auto devices = input_devices();
  EXPECT_TRUE(devices.ok());
  for (const Device& device : *devices)
    if (auto n = device.name(); n && *n == name) return device;
  ADD_FAILURE() << "no input device " << name;
  return devices->front();
}

TEST(PlatformAudioIo, DevicesAndTheirDefaultConfigurations) {
  auto spec = sim::AudioWorldSpec::standard();
  spec.devices.push_back(input_device("usb-i16", PcmKind::I16, 2, 44100.0));
  spec.devices.push_back(input_device("usb-u16", PcmKind::U16));
  spec.devices.push_back(input_device("usb-i32", PcmKind::I32));
  ScopedAudioWorld world(spec);

  auto devices = input_devices();
  ASSERT_TRUE(devices.ok());
  std::vector<std::string> names;
  for (const Device& device : *devices) names.push_back(*device.name());
  // Output-only devices are not input devices; the order is the system's.
  EXPECT_EQ(names, (std::vector<std::string>{"Built-in Microphone", "usb-i16", "usb-u16", "usb-i32"}));

  auto mic = default_input_device();
  ASSERT_TRUE(mic.has_value());
  auto config = mic->default_input_config();
  ASSERT_TRUE(config.ok());
  EXPECT_EQ(config->channels, 1);
  EXPECT_EQ(config->sample_rate, 48000u);
  EXPECT_EQ(config->sample_format, SampleFormat::F32);
  EXPECT_EQ(config->buffer_size.max, 4096u);

  auto i16 = enumerated("usb-i16").default_input_config();
  ASSERT_TRUE(i16.ok());
  EXPECT_EQ(i16->sample_format, SampleFormat::I16);
  EXPECT_EQ(i16->channels, 2);
  EXPECT_EQ(i16->sample_rate, 44100u);
  for (const char* name : {"usb-u16", "usb-i32"}) {
    auto refused = enumerated(name).default_input_config();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), kStreamTypeNotSupportedText);
  }
  auto output = default_output_device();
  ASSERT_TRUE(output.has_value());
  EXPECT_EQ(output->default_input_config().error(), kStreamTypeNotSupportedText);
  auto out_config = output->default_output_config();
  ASSERT_TRUE(out_config.ok());
  EXPECT_EQ(out_config->channels, 2);
  EXPECT_EQ(sample_format_name(SampleFormat::U16), "U16");

  // Failed platform reads.
  world->fail(Fault(Call::GetPropertyData, -50).on(mic->id()).property(hal::kAudioDevicePropertyStreamFormat));
  EXPECT_EQ(mic->default_input_config().error(), "A backend-specific error has occurred: status -50");
  world->fail(Fault(Call::GetPropertyData, -50).property(hal::kAudioHardwarePropertyDevices));
  EXPECT_FALSE(input_devices().ok());
  world->set_name(mic->id(), std::string("bad \xff name"));
  EXPECT_FALSE(mic->name().ok());
  world->set_default_input(hal::kAudioObjectUnknown);
  EXPECT_FALSE(default_input_device().has_value());
}

template <class T>
void expect_stream_delivers(PcmKind kind, const std::vector<T>& expected) {
  auto spec = sim::AudioWorldSpec::standard();
  auto device = input_device("mic", kind, 2);
  device.signal = sim::Samples{{-1.0f, 0.0f, 0.5f, 32767.0f / 32768.0f}, false};
  spec.devices = {device};
  spec.default_input = "mic";
  ScopedAudioWorld world(spec);
  auto sink = std::make_shared<Sink<T>>();
  auto stream = build<T>(*default_input_device(), sink, 2);
  ASSERT_TRUE(stream.ok()) << stream.error();
  ASSERT_TRUE(eventually([&] { return sink->sample_count() >= 256; }));  // two buffers of 64 stereo frames
  std::lock_guard lock(sink->mutex);
  EXPECT_EQ(std::vector<T>(sink->samples.begin(), sink->samples.begin() + 4), expected);
  EXPECT_EQ(sink->samples[4], expected[1]);   // then silence
  EXPECT_EQ(sink->samples.size() % 128, 0u);  // whole buffers, interleaved as delivered
}

TEST(PlatformAudioIo, InputStreamsDeliverEachSampleType) {
  expect_stream_delivers<float>(PcmKind::F32, {-1.0f, 0.0f, 0.5f, 32767.0f / 32768.0f});
  expect_stream_delivers<std::int16_t>(PcmKind::I16, {-32768, 0, 16384, 32767});
  expect_stream_delivers<std::uint16_t>(PcmKind::U16, {0, 32768, 49152, 65535});
}

TEST(PlatformAudioIo, FloatSamplesReachTheCallbackUnchanged) {
  auto spec = sim::AudioWorldSpec::standard();
  spec.devices[0].signal = sim::Samples{{NAN, 2.0f, -7.5f, INFINITY}, true};
  ScopedAudioWorld world(spec);
  auto sink = std::make_shared<Sink<float>>();
  auto stream = build<float>(*default_input_device(), sink);
  ASSERT_TRUE(stream.ok());
  ASSERT_TRUE(eventually([&] { return sink->sample_count() >= 8; }));
  std::lock_guard lock(sink->mutex);
  EXPECT_TRUE(std::isnan(sink->samples[0]));
  EXPECT_EQ(sink->samples[1], 2.0f);
  EXPECT_EQ(sink->samples[2], -7.5f);
  EXPECT_EQ(sink->samples[3], INFINITY);
  EXPECT_TRUE(std::isnan(sink->samples[4]));  // looped
}

TEST(PlatformAudioIo, BuildRefusesWhatTheDeviceDoesNotOffer) {
  ScopedAudioWorld world;
  const Device mic = *default_input_device();
  auto sink = std::make_shared<Sink<std::int16_t>>();
  EXPECT_EQ(build<std::int16_t>(mic, sink).error(), kStreamConfigNotSupportedText);  // the device is f32
  auto f32 = std::make_shared<Sink<float>>();
  EXPECT_EQ(build<float>(mic, f32, 2).error(), kStreamConfigNotSupportedText);
  EXPECT_EQ(build<float>(mic, f32, 1, 44100).error(), kStreamConfigNotSupportedText);
  for (Call step : {Call::AudioUnitNew, Call::AudioUnitSetProperty, Call::AudioUnitInitialize, Call::CreateIOProcID,
                    Call::DeviceStart}) {
    world->fail(Fault(step, -50));
    auto failed = build<float>(mic, f32);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), "A backend-specific error has occurred: status -50");
  }
  EXPECT_EQ(world->running_io_procs(mic.id()), 0u);
  EXPECT_EQ(world->property_listener_count(), 0u);
  EXPECT_EQ(f32.use_count(), 1);  // every failed build let go of its callbacks
  world->set_alive(mic.id(), false);
  EXPECT_EQ(build<float>(mic, f32).error(), kDeviceNotAvailableText);
}

TEST(PlatformAudioIo, ReleaseStopsEverythingAndDropsTheCallbacks) {
  ScopedAudioWorld world;
  const Device mic = enumerated("Built-in Microphone");
  auto sink = std::make_shared<Sink<float>>();
  std::optional<Stream> stream;
  {
    auto built = build<float>(mic, sink);
    ASSERT_TRUE(built.ok());
    stream.emplace(std::move(*built));
  }
  ASSERT_TRUE(eventually([&] { return sink->buffers >= 3; }));
  EXPECT_TRUE(stream->play().ok());  // running already
  ASSERT_TRUE(stream->pause().ok());
  const int paused_at = sink->buffers;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(sink->buffers, paused_at);
  ASSERT_TRUE(stream->play().ok());
  ASSERT_TRUE(eventually([&] { return sink->buffers > paused_at; }));

  stream.reset();
  const int released_at = sink->buffers;
  EXPECT_EQ(sink.use_count(), 1);
  EXPECT_EQ(world->running_io_procs(mic.id()), 0u);
  EXPECT_EQ(world->property_listener_count(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(sink->buffers, released_at);
}

TEST(PlatformAudioIo, LossOfAnEnumeratedDeviceIsReportedOncePerNotification) {
  auto spec = sim::AudioWorldSpec::standard();
  spec.devices.push_back(input_device("headset-mic", PcmKind::F32));
  spec.default_input = "headset-mic";
  ScopedAudioWorld world(spec);
  const Device builtin = enumerated("Built-in Microphone");
  const Device headset = *default_input_device();
  auto from_list = std::make_shared<Sink<float>>();
  auto from_default = std::make_shared<Sink<float>>();
  auto watched = build<float>(builtin, from_list);
  auto unwatched = build<float>(headset, from_default);
  ASSERT_TRUE(watched.ok() && unwatched.ok());
  EXPECT_EQ(world->property_listener_count(), 1u);  // only the enumerated device is watched
  ASSERT_TRUE(eventually([&] { return from_list->buffers > 0 && from_default->buffers > 0; }));

  world->set_alive(builtin.id(), false);
  ASSERT_TRUE(eventually([&] { return from_list->error_count() == 1; }));
  {
    std::lock_guard lock(from_list->mutex);
    EXPECT_EQ(from_list->errors[0].kind, StreamError::Kind::DeviceNotAvailable);
    EXPECT_EQ(from_list->errors[0].message, kDeviceNotAvailableText);
  }
  EXPECT_EQ(world->running_io_procs(builtin.id()), 0u);  // paused
  world->set_alive(builtin.id(), true);
  ASSERT_TRUE(eventually([&] { return from_list->error_count() == 2; }));  // whatever the new value

  world->set_alive(headset.id(), false);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(from_default->error_count(), 0u);
}

TEST(PlatformAudioIo, FailedRendersAndUntimedBuffersAreNotDelivered) {
  ScopedAudioWorld world;
  const Device mic = *default_input_device();
  world->fail(Fault(Call::AudioUnitRender, -10863).on(mic.id()).times(3));
  world->fail(Fault(Call::HostTimebase, 7));
  auto sink = std::make_shared<Sink<float>>();
  auto stream = build<float>(mic, sink);
  ASSERT_TRUE(stream.ok());
  ASSERT_TRUE(eventually([&] { return sink->buffers >= 2; }));
  std::lock_guard lock(sink->mutex);
  ASSERT_EQ(sink->errors.size(), 1u);  // the time-stamp failure only; a failed render says nothing
  EXPECT_EQ(sink->errors[0].kind, StreamError::Kind::BackendSpecific);
  EXPECT_EQ(sink->errors[0].message.rfind("A backend-specific error has occurred: ", 0), 0u);
}

TEST(PlatformAudioIo, OutputStreamFillsTheDefaultOutput) {
  ScopedAudioWorld world;
  const Device speakers = *default_output_device();
  auto config = speakers.default_output_config();
  ASSERT_TRUE(config.ok());
  auto stream = speakers.build_output_stream(
      {config->channels, config->sample_rate}, [](std::span<float> out) { std::fill(out.begin(), out.end(), 0.0f); },
      [](const StreamError&) {});
  ASSERT_TRUE(stream.ok()) << stream.error();
  ASSERT_TRUE(eventually([&] { return world->output_counters(speakers.id()).buffers >= 3; }));
  EXPECT_EQ(world->output_counters(speakers.id()).nonzero_samples, 0u);
  EXPECT_EQ(world->running_io_procs(speakers.id()), 1u);
}

TEST(PlatformAudioIo, AnUntimedRenderLeavesTheOutputUnfilledAndReports) {
  ScopedAudioWorld world;
  const Device speakers = *default_output_device();
  world->fail(Fault(Call::HostTimebase, 7));
  auto errors = std::make_shared<Sink<float>>();
  auto stream = speakers.build_output_stream(
      {2, 48000}, [](std::span<float> out) { std::fill(out.begin(), out.end(), 0.0f); },
      [errors](const StreamError& error) {
        std::lock_guard lock(errors->mutex);
        errors->errors.push_back(error);
      });
  ASSERT_TRUE(stream.ok());
  ASSERT_TRUE(eventually([&] { return world->output_counters(speakers.id()).buffers >= 2; }));
  EXPECT_EQ(world->output_counters(speakers.id()).nonzero_samples, 512u * 2);  // the first buffer only
  std::lock_guard lock(errors->mutex);
  ASSERT_EQ(errors->errors.size(), 1u);
  EXPECT_EQ(errors->errors[0].kind, StreamError::Kind::BackendSpecific);
}

TEST(PlatformAudioIo, AnOutputLeftUnfilledShowsInTheCounters) {
  ScopedAudioWorld world;
  const Device speakers = *default_output_device();
  auto stream = speakers.build_output_stream(
      {2, 48000}, [](std::span<float>) {}, [](const StreamError&) {});
  ASSERT_TRUE(stream.ok());
  ASSERT_TRUE(eventually([&] { return world->output_counters(speakers.id()).nonzero_samples > 0; }));
}

}  // namespace
}  // namespace ombri
