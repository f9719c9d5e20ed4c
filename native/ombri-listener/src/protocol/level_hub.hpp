#pragma once
// The level meter of one capture session. The microphone callback reports the
// peak of every buffer and the system-audio drain thread the peak of every
// batch; one clock serves both, and at most every 250 ms one "level" event
// carries both peaks to the parent through the event channel.
//
// Thread-safe: report() may run on several threads at once. Users share one
// hub through std::shared_ptr; it lives as long as its last holder.

#include <chrono>
#include <string>

#include "base/poison_mutex.hpp"
#include "protocol/event_channel.hpp"

namespace ombri {

class LevelHub {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = Clock::time_point (*)();

  // The last event is taken to have been one second before now, so the first
  // report sends at once. `now` reads the monotonic clock (tests pass their own).
  LevelHub(EventSender event_sender, std::string session_id, Now now = Clock::now);

  // Raises the peak of one source (a NaN level changes nothing; nothing is
  // clamped here). Once 250 ms or more have passed since the last event, sends
  // a "level" event with both peaks clamped to [0, 1] and restarts both at 0.
  // Outside an emission it neither allocates nor blocks but on the meter's lock;
  // a poisoned lock ends the session's level events.
  void report(bool is_system, float level);

 private:
  struct LevelMeter {
    Clock::time_point last_emit;
    float mic_peak = 0.0f;
    float system_peak = 0.0f;
  };

  PoisonMutex<LevelMeter> meter_;
  EventSender event_sender_;
  std::string session_id_;
  Now now_;
};

}  // namespace ombri
