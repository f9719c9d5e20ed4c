#include "listener/readiness.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "platform/sim/audio_world.hpp"

namespace ombri {
namespace {

using sim::Call;
using sim::Fault;
using sim::ScopedAudioWorld;

// The default input is looked up on every call, and its name is the one read in the output scope.
TEST(Readiness, DevicesReadTheDefaultInputAfreshEachCall) {
  const Json named =
      Json::parse(R"({"devices":[{"id":"default-mic","isDefault":true,"kind":"mic","name":"Built-in Microphone"}]})");
  const Json empty = Json::parse(R"({"devices":[],"reason":"No default microphone input device was found."})");
  ScopedAudioWorld world;
  const auto mic = world->device_id("BuiltInMicrophoneDevice");
  struct Case {
    const char* what;
    std::function<void()> change;
    Json expected;
  };
  const Case cases[] = {
      {"standard world", [] {}, named},
      {"name unreadable in the input scope",
       [&] {
         world->fail(Fault(Call::GetPropertyData, -50)
                         .on(mic)
                         .property(hal::kAudioObjectPropertyName)
                         .in_scope(hal::kAudioDevicePropertyScopeInput));
       },
       named},
      {"name unreadable in the output scope",
       [&] {
         world->fail(Fault(Call::GetPropertyData, -50)
                         .on(mic)
                         .property(hal::kAudioObjectPropertyName)
                         .in_scope(hal::kAudioDevicePropertyScopeOutput));
       },
       empty},
      {"the fault was used up", [] {}, named},
      {"name is not UTF-8", [&] { world->set_name(mic, "Mic \xff"); }, empty},
      {"renamed", [&] { world->set_name(mic, "Desk Mic"); },
       Json::parse(R"({"devices":[{"id":"default-mic","isDefault":true,"kind":"mic","name":"Desk Mic"}]})")},
      {"no default input", [&] { world->set_default_input(hal::kAudioObjectUnknown); }, empty},
  };
  for (const auto& c : cases) {
    c.change();
    EXPECT_EQ(listener_devices_payload(false), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace ombri
