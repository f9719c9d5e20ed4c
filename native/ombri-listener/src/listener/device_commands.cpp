#include "listener/device_commands.hpp"

#include "system_audio/device_queries.hpp"

namespace ombri {

void handle_detect(CommandOutcome& outcome, const Json&, RuntimeState& state, const std::string& id) {
  Json busy = false;
  if (!state.active_capture) {
    const auto in_use = mic_in_use_somewhere();
    busy = in_use ? Json(*in_use) : Json(nullptr);
  }
  outcome.response = response_ok(id, Json{{"micBusyElsewhere", std::move(busy)}});
}

}  // namespace ombri
