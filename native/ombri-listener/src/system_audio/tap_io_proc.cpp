#include "system_audio/tap_io_proc.hpp"

#include <algorithm>

namespace ombri {
namespace {

// Whole samples of type T in the buffer (an odd byte left over is ignored);
// 0 when the data is not aligned for T, so the buffer is skipped.
template <class T>
std::size_t usable_samples(const hal::AudioBuffer& buffer) {
  if (reinterpret_cast<std::uintptr_t>(buffer.mData) % sizeof(T) != 0) return 0;
  return buffer.mDataByteSize / sizeof(T);
}

// Pushes as many of the samples as fit, in whole frames: a frame cut by a
// full ring would shift every later sample into the wrong channel.
void push_frames(Ctx& ctx, const float* samples, std::size_t count) {
  if (ctx.channels > 1) {
    const std::size_t room = ctx.producer.free_space();
    if (room < count) count = room - room % ctx.channels;
  }
  ctx.producer.push(samples, count);
}

// Converts the samples in chunks of the scratch buffer's length (whole
// frames) and pushes each chunk, whatever the ring took of the one before.
template <class T, class Convert>
void push_converted(Ctx& ctx, const hal::AudioBuffer& buffer, Convert convert) {
  const auto* samples = static_cast<const T*>(buffer.mData);
  const std::size_t count = usable_samples<T>(buffer);
  const std::size_t channels = std::clamp<std::size_t>(ctx.channels, 1, ctx.scratch.size());
  const std::size_t chunk = ctx.scratch.size() - ctx.scratch.size() % channels;
  for (std::size_t start = 0; start < count; start += chunk) {
    const std::size_t n = std::min(chunk, count - start);
    for (std::size_t i = 0; i < n; ++i) ctx.scratch[i] = convert(samples[start + i]);
    push_frames(ctx, ctx.scratch.data(), n);
  }
}

}  // namespace

hal::OSStatus tap_io_proc(hal::AudioObjectID, const hal::AudioTimeStamp*, const hal::AudioBufferList* input,
                          const hal::AudioTimeStamp*, hal::AudioBufferList*, const hal::AudioTimeStamp*,
                          void* client_data) {
  if (!client_data || !input || !input->mBuffers) return 0;
  Ctx& ctx = *static_cast<Ctx*>(client_data);
  const hal::AudioBuffer& buffer = input->mBuffers[0];
  if (!buffer.mData || buffer.mDataByteSize == 0) return 0;

  switch (ctx.format) {
    case 0:  // a format the tap cannot be read in
      break;
    case 1:
      push_frames(ctx, static_cast<const float*>(buffer.mData), usable_samples<float>(buffer));
      break;
    case 2:
      push_converted<double>(ctx, buffer, [](double x) { return static_cast<float>(x); });
      break;
    case 3:
      push_converted<std::int16_t>(ctx, buffer, [](std::int16_t x) { return static_cast<float>(x) / 32767.0f; });
      break;
    default:
      push_converted<std::int32_t>(ctx, buffer,
                                   [](std::int32_t x) { return static_cast<float>(x) * 4.656612873077393e-10f; });
      break;
  }
  return 0;
}

}  // namespace ombri
