#pragma once
// Fixture WAV mode: deterministic events from two WAV files, for tests of the
// protocol without audio hardware.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json.hpp"
#include "result.hpp"
#include "wav_probe.hpp"

namespace ombri {

// The "--input-wav" command line; the arguments after the program name.
Result<void> run_input_wav_mode(const std::vector<std::string>& args);

// Probes both files (microphone first) and returns what a capture of them
// reports: "recording" status, one level event, the transcripts of the
// microphone chunks and then of the system chunks, "idle" status.
Result<std::vector<Json>> fixture_wav_events(const std::string& mic_wav, const std::string& system_wav,
                                             const std::string& meeting_id);

// `channel` is "mic" or "system"; `index` counts from 1 within the channel.
std::string fixture_transcript(std::string_view channel, const WavChunk& chunk, std::uint64_t index,
                               std::uint64_t total);

std::vector<Json> fixture_transcript_events(const std::string& session_id, std::string_view channel,
                                            std::string_view speaker, const std::vector<WavChunk>& chunks);

}  // namespace ombri
