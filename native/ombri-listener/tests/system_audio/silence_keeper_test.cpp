#include "system_audio/silence_keeper.hpp"

#include <gtest/gtest.h>

#include "platform/sim/audio_world.hpp"
#include "platform/sim/pcm.hpp"
#include "platform_test_support.hpp"

namespace ombri {
namespace {

using namespace std::chrono_literals;
using platform::pcm_format;
using platform::PcmKind;
using test::eventually;

constexpr auto kRecheck = 30ms;

struct Outputs {
  explicit Outputs(sim::ScopedAudioWorld& w) : world(w) {
    speakers = world->device_id("BuiltInSpeakerDevice");
    sim::DeviceSpec other;
    other.uid = "usb";
    other.name = "USB Speakers";
    other.output = pcm_format(44100.0, 2, PcmKind::F32);
    usb = world->add_device(other);
    other.uid = "twin";
    other.name = "Built-in Output";  // another device with the speakers' name
    twin = world->add_device(other);
  }
  bool runs_on(hal::AudioObjectID device) const { return world->running_io_procs(device) == 1; }
  bool silent_everywhere() const {
    for (auto device : {speakers, usb, twin})
      if (world->running_io_procs(device) != 0) return false;
    return true;
  }

  sim::ScopedAudioWorld& world;
  hal::AudioObjectID speakers, usb, twin;
};

TEST(SilenceKeeper, RendersZerosOnTheDefaultOutputAndFollowsItsName) {
  sim::ScopedAudioWorld world;
  Outputs out(world);
  {
    auto keeper = SilenceKeeper::spawn(kRecheck);
    ASSERT_TRUE(eventually([&] { return world->output_counters(out.speakers).buffers >= 3; }));
    EXPECT_EQ(world->output_counters(out.speakers).nonzero_samples, 0u);

    world->set_default_output(out.twin);  // the same name: the stream stays where it is
    std::this_thread::sleep_for(kRecheck * 4);
    EXPECT_TRUE(out.runs_on(out.speakers));
    EXPECT_FALSE(out.runs_on(out.twin));

    world->set_default_output(out.usb);
    ASSERT_TRUE(eventually([&] { return out.runs_on(out.usb) && !out.runs_on(out.speakers); }));

    // A name that cannot be read counts as a change: the keeper drops the
    // stream to reopen it on the same device, which now fails.
    world->fail(sim::Fault(sim::Call::AudioUnitNew, -50).on(out.usb).always());
    world->set_name(out.usb, std::nullopt);
    EXPECT_TRUE(eventually([&] { return !out.runs_on(out.usb); }));
  }
  // Released: the keeper has stopped its stream by the time the release returns.
  EXPECT_TRUE(out.silent_everywhere());
}

TEST(SilenceKeeper, RetriesUntilTheDefaultOutputOffersFloatSamples) {
  sim::ScopedAudioWorld world;
  Outputs out(world);
  world->set_stream_format(out.speakers, hal::kAudioDevicePropertyScopeOutput, pcm_format(48000.0, 2, PcmKind::I16));
  world->set_default_output(hal::kAudioObjectUnknown);
  auto keeper = SilenceKeeper::spawn(kRecheck);
  std::this_thread::sleep_for(kRecheck * 4);
  EXPECT_TRUE(out.silent_everywhere());  // no default output

  world->set_default_output(out.speakers);
  std::this_thread::sleep_for(kRecheck * 4);
  EXPECT_TRUE(out.silent_everywhere());  // 16-bit output: no stream

  world->set_stream_format(out.speakers, hal::kAudioDevicePropertyScopeOutput, pcm_format(48000.0, 2, PcmKind::F32));
  EXPECT_TRUE(eventually([&] { return out.runs_on(out.speakers); }));

  world->fail(sim::Fault(sim::Call::AudioUnitInitialize, -50).on(out.usb).times(3));
  world->set_default_output(out.usb);  // fails three times, then opens
  EXPECT_TRUE(eventually([&] { return out.runs_on(out.usb) && !out.runs_on(out.speakers); }));
}

TEST(SilenceKeeper, EndsAtOnceWithoutWaitingOutItsRecheck) {
  sim::ScopedAudioWorld world;
  Outputs out(world);
  auto keeper = std::make_optional(SilenceKeeper::spawn());  // the real 3 s recheck
  ASSERT_TRUE(eventually([&] { return out.runs_on(out.speakers); }));
  const auto start = std::chrono::steady_clock::now();
  keeper.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_TRUE(out.silent_everywhere());
}

}  // namespace
}  // namespace ombri
