#pragma once
// World files: JSON descriptions of the simulated audio hardware and
// calendar (the format is described in the README).

#include <nlohmann/json.hpp>
#include <string>

#include "base/result.hpp"
#include "platform/sim/audio_world.hpp"
#include "platform/sim/calendar_world.hpp"

namespace ombri::sim {

using Json = nlohmann::json;

// WAV paths of signals are taken relative to `base_dir`.
Result<AudioWorldSpec> audio_world_from_json(const Json& world, const std::string& base_dir);
Result<AudioWorldSpec> load_audio_world_file(const std::string& path);

// Event times are minutes relative to `now` (seconds since 1970).
Result<CalendarWorldSpec> calendar_world_from_json(const Json& world, double now);
Result<CalendarWorldSpec> load_calendar_world_file(const std::string& path);

}  // namespace ombri::sim
