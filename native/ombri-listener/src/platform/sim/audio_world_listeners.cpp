// Property listeners of the simulated world and the thread that calls them.

#include <algorithm>

#include "platform/sim/audio_world_state.hpp"

namespace ombri::sim {

using namespace hal;

namespace {

bool same_registration(const ListenerEntry& entry, AudioObjectID object, const AudioObjectPropertyAddress& address,
                       AudioObjectPropertyListenerProc proc, void* client_data) {
  return entry.object == object && entry.address.mSelector == address.mSelector &&
         entry.address.mScope == address.mScope && entry.address.mElement == address.mElement && entry.proc == proc &&
         entry.client_data == client_data;
}

bool listens_to(const ListenerEntry& entry, AudioObjectID object, const AudioObjectPropertyAddress& changed) {
  const auto& wanted = entry.address;
  return entry.object == object &&
         (wanted.mSelector == kAudioObjectPropertySelectorWildcard || wanted.mSelector == changed.mSelector) &&
         (wanted.mScope == kAudioObjectPropertyScopeWildcard || wanted.mScope == changed.mScope) &&
         (wanted.mElement == kAudioObjectPropertyElementWildcard || wanted.mElement == changed.mElement);
}

}  // namespace

void AudioWorld::State::run_notifier() {
  std::unique_lock lock(mutex);
  for (;;) {
    changed.wait(lock, [&] { return shutting_down || !notifications.empty(); });
    if (shutting_down) return;
    const auto [object, address] = notifications.front();
    notifications.pop_front();
    std::vector<std::shared_ptr<ListenerEntry>> targets;
    for (const auto& entry : listeners)
      if (listens_to(*entry, object, address)) targets.push_back(entry);
    for (const auto& entry : targets) {
      // A listener removed by an earlier call of this round is not called.
      if (std::find(listeners.begin(), listeners.end(), entry) == listeners.end()) continue;
      ++entry->in_flight;
      lock.unlock();
      entry->proc(object, 1, &address, entry->client_data);
      lock.lock();
      --entry->in_flight;
      changed.notify_all();
    }
  }
}

OSStatus AudioWorld::add_listener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                  AudioObjectPropertyListenerProc listener, void* client_data) {
  if (auto fault = take_fault(Call::AddPropertyListener, object, &address)) return *fault;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (!s.object_exists(object)) return platform::kAudioHardwareBadObjectError;
  if (!listener) return platform::kAudio_ParamError;
  s.listeners.push_back(std::make_shared<ListenerEntry>(ListenerEntry{object, address, listener, client_data}));
  return kAudioHardwareNoError;
}

OSStatus AudioWorld::remove_listener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                     AudioObjectPropertyListenerProc listener, void* client_data) {
  if (auto fault = take_fault(Call::RemovePropertyListener, object, &address)) return *fault;
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  auto it = std::find_if(s.listeners.begin(), s.listeners.end(), [&](const auto& entry) {
    return same_registration(*entry, object, address, listener, client_data);
  });
  if (it == s.listeners.end()) return platform::kAudioHardwareIllegalOperationError;
  const std::shared_ptr<ListenerEntry> entry = *it;
  s.listeners.erase(it);
  if (s.notifier.get_id() != std::this_thread::get_id()) s.changed.wait(lock, [&] { return entry->in_flight == 0; });
  return kAudioHardwareNoError;
}

}  // namespace ombri::sim
