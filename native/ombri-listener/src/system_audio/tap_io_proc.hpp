#pragma once
// The IO proc of the private aggregate device that holds the process tap: it
// converts each buffer to single-precision samples and pushes them into the
// sample ring. Real-time: no allocation, no lock, no system call; what does
// not fit into the ring is lost.

#include <cstdint>
#include <vector>

#include "platform/hal_types.hpp"
#include "system_audio/sample_ring.hpp"

namespace ombri {

inline constexpr std::size_t kTapScratchSamples = 4096;

// The callback's client data. It stays at one address, and outlives the
// aggregate device, for as long as the device can call the proc.
struct Ctx {
  RingProducer producer;
  // The conversion target, at full length from the start; its length is the chunk size.
  std::vector<float> scratch;
  // The tap format object's common format: 0 other, 1 f32, 2 f64, 3 i16,
  // 4 (and any other value) i32. Fixed for the life of the capture.
  std::uint64_t format;
  // Samples per frame of the tap (at least 1): a full ring refuses whole
  // frames only, so the samples after a loss keep their channels.
  std::uint32_t channels = 1;
};

// Reads only the first buffer of `input` and the client data (a Ctx); always returns 0.
// When the ring is full, the newest frames of the cycle are dropped and the older ones stay.
hal::OSStatus tap_io_proc(hal::AudioObjectID device, const hal::AudioTimeStamp* now, const hal::AudioBufferList* input,
                          const hal::AudioTimeStamp* input_time, hal::AudioBufferList* output,
                          const hal::AudioTimeStamp* output_time, void* client_data);

}  // namespace ombri
