#pragma once
// The codec on libvips: reads the source's size and orientation from its
// header, renders the upright picture at a given edge onto opaque white
// sRGB, and encodes it as JPEG into a sink bounded by the byte budget.

#include <cstdint>
#include <vector>

#include "gobject_ref.hpp"
#include "image_sizes.hpp"

typedef struct _VipsImage VipsImage;

namespace ombri_image {

class VipsCodec : public ImageSizes {
 public:
  // Reads `source` in place: it must outlive the codec.
  explicit VipsCodec(const std::vector<std::uint8_t>& source);

  // Each render stands on its own: upright, on opaque white, 8-bit sRGB,
  // exactly the target size. The decode is kept for the next render while it
  // is the same: always for a PNG, and for a JPEG while the decoder's scale
  // for the edge stays the same.
  void render(std::uint32_t edge);

  // The JPEG of the last render, or nothing when it would pass `budget`.
  std::vector<std::uint8_t> encode(double quality, std::uint64_t budget);

 private:
  // The source as libvips decodes it, flattened onto white; a JPEG at
  // 1/`jpegShrink` of its size.
  GObjectRef<VipsImage> open(int jpegShrink) const;
  // open(shrink), in memory and kept until a render asks for another scale.
  GObjectRef<VipsImage> decoded(int shrink);

  const std::vector<std::uint8_t>& source_;
  bool isJpeg_ = false;
  bool hasProfile_ = false;
  bool interlaced_ = false;
  GObjectRef<VipsImage> decoded_;
  int decodedShrink_ = 0;
  GObjectRef<VipsImage> rendered_;
};

}  // namespace ombri_image
