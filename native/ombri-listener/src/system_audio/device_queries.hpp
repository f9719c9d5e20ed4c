#pragma once
// Three questions to the audio hardware, asked afresh on every call. None
// reports an error: a failed read answers no value, false or an empty list.
// Main thread; no state, no lock.

#include <optional>
#include <string>
#include <vector>

namespace ombri {

// Whether the default input device runs in some process; nothing when a read fails.
std::optional<bool> mic_in_use_somewhere();

// Whether the default input device is a Bluetooth or Bluetooth LE device.
bool default_input_is_bluetooth();

// The names of every built-in device, input and output alike, in the order of
// the system's device list, untrimmed; a device whose name cannot be read is left out.
std::vector<std::string> builtin_device_names();

}  // namespace ombri
