#include "system_audio/linear_resampler.hpp"

#include "wav/pcm16_sample.hpp"

namespace ombri {

LinearResampler LinearResampler::between(std::uint32_t in_rate, std::uint32_t out_rate) {
  return LinearResampler{std::nullopt, static_cast<double>(in_rate) / static_cast<double>(out_rate), 0.0, in_rate,
                         out_rate};
}

void LinearResampler::process(float x, std::vector<std::int16_t>& output) {
  if (!prev) {
    prev = x;
    return;
  }
  const float d = x - *prev;
  while (phase < 1.0) {
    const float step = d * static_cast<float>(phase);
    output.push_back(pcm16_from_float(*prev + step));
    phase += ratio;
  }
  phase -= 1.0;
  prev = x;
}

void LinearResampler::set_in_rate(std::uint32_t rate) {
  if (rate == in_rate) return;
  *this = between(rate, out_rate);
}

}  // namespace ombri
