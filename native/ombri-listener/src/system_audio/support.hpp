#pragma once
// Whether this macOS is new enough for process taps (14.2), asked once per process.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "base/result.hpp"

namespace ombri {

// How long the version tool may take, output and exit included.
inline constexpr std::chrono::milliseconds kVersionToolBound{3000};

// (major, minor) from `sw_vers -productVersion`, found through PATH. Nothing
// when the tool cannot be started, prints no version, or has not ended within
// `bound`; it is then killed and reaped.
std::optional<std::pair<std::uint32_t, std::uint32_t>> macos_version(
    std::chrono::milliseconds bound = kVersionToolBound);

// The kept answer: success, or the text saying why system audio cannot be captured.
const Result<void>& system_audio_support();

// The decision itself, for a given version.
Result<void> support_for_version(std::optional<std::pair<std::uint32_t, std::uint32_t>> version);

// The version in a tool's output text ("14.4.1\n" is (14, 4)).
std::optional<std::pair<std::uint32_t, std::uint32_t>> parse_macos_version(std::string_view output);

}  // namespace ombri
