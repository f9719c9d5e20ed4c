#include "system_audio/sample_ring.hpp"

namespace ombri {

SampleRing make_sample_ring(std::size_t capacity) {
  auto queue = std::make_shared<SampleQueue>(capacity);
  return SampleRing{RingProducer(queue), RingConsumer(queue)};
}

}  // namespace ombri
