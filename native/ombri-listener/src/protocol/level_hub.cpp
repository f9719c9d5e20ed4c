#include "protocol/level_hub.hpp"

#include <algorithm>
#include <cmath>

#include "protocol/timestamp.hpp"

namespace ombri {
namespace {

constexpr auto kInterval = std::chrono::milliseconds(250);

float clamped_to_unit(float peak) { return std::clamp(peak, 0.0f, 1.0f); }

}  // namespace

LevelHub::LevelHub(EventSender event_sender, std::string session_id, Now now)
    : meter_(LevelMeter{now() - std::chrono::seconds(1)}),
      event_sender_(std::move(event_sender)),
      session_id_(std::move(session_id)),
      now_(now) {}

void LevelHub::report(bool is_system, float level) {
  float mic;
  float system;
  {
    auto meter = meter_.lock();
    if (meter.poisoned()) return;
    float& peak = is_system ? meter->system_peak : meter->mic_peak;
    if (level > peak) peak = level;  // false for a NaN level
    // A clock reading before the last emission counts as no time at all.
    if (now_() - meter->last_emit < kInterval) return;
    meter->last_emit = now_();
    mic = clamped_to_unit(meter->mic_peak);
    system = clamped_to_unit(meter->system_peak);
    meter->mic_peak = 0.0f;
    meter->system_peak = 0.0f;
  }
  event_sender_.send(Json{{"type", "level"},
                          {"sessionId", session_id_},
                          {"mic", static_cast<double>(mic)},
                          {"system", static_cast<double>(system)},
                          {"at", timestamp_now()}});
}

}  // namespace ombri
