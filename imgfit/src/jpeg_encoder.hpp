#pragma once
// JPEG encoding of an 8-bit RGB picture in memory into a sink bounded by the
// byte budget. The sink receives the bytes as the encoder makes them, so an
// encode that would pass the budget stops at its first refused write.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ombri_image {

// The bytes one encode has produced; never more than `budget`.
struct OutputSink {
  std::vector<std::uint8_t> data;
  std::uint64_t budget = 0;
  bool overflowed = false;
};

// Accepts all `count` bytes while the total stays within the budget (landing
// exactly on it included) and returns `count`; otherwise marks the sink
// overflowed and returns 0. Out of memory it returns 0 without the mark, so
// the encode fails instead of shrinking.
std::size_t appendOutput(OutputSink& sink, const void* buffer, std::size_t count);

enum class JpegEncodeOutcome {
  finished,            // every byte reached the sink
  stopped,             // the sink refused bytes or the encoder failed
  encoderUnavailable,  // no encoder could be set up
};

// `pixels` holds `height` rows of `width` red, green, blue bytes each, without
// padding. `quality` is libjpeg's scale, 1 to 100. Baseline, 4:2:0, Huffman
// tables optimised for the picture, no metadata.
JpegEncodeOutcome encodeJpeg(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, int quality,
                             OutputSink& sink);

}  // namespace ombri_image
