#pragma once
// The permission probe: once a capture runs, a detached thread plays a short
// quiet tone with the system tool `afplay`, watches the capture's live flag
// and tells the parent with one "systemAudio" event whether the tap delivers
// sound ("live" or "silent"); after "silent" it watches for a late "live".
//
// The thread is never joined and may outlive the capture: its first event
// comes whether or not the capture stopped meanwhile, and only its late watch
// ends early when the stop flag is set. It holds nothing of the capture but
// its own handles of the two flags and of the event sender.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "protocol/event_channel.hpp"
#include "system_audio/shared_flag.hpp"

namespace ombri {

struct ProbeTiming {
  std::chrono::milliseconds before_tone{400};
  std::chrono::milliseconds first_watch{2000};
  std::chrono::milliseconds first_poll{100};
  std::chrono::milliseconds late_watch{60000};
  std::chrono::milliseconds late_poll{500};
};

// 0.35 s of a 440 Hz sine at 8 kHz, half scale: the tone's 2800 samples.
std::vector<std::int16_t> probe_tone();

// "qir-system-audio-probe.wav" in TMPDIR, else the per-user temporary
// directory, else /tmp.
std::string probe_wav_path();

// The path of the probe tone file, written first when nothing is at the path
// (whatever is there is used as it is), or the error text.
Result<std::string> ensure_probe_wav();

// Starts the detached probe thread; failing to start it ends the process.
void spawn_probe_thread(std::string session_id, EventSender events, SharedFlag live, SharedFlag stop,
                        ProbeTiming timing = {});

}  // namespace ombri
