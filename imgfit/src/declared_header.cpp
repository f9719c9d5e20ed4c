#include "declared_header.hpp"

#include "failure.hpp"
#include "format_check.hpp"
#include "image_geometry.hpp"
#include "jpeg_frame.hpp"
#include "png_chunks.hpp"

namespace ombri_image {

void checkDeclaredHeader(const std::vector<std::uint8_t>& source) {
  std::optional<PixelSize> size;
  if (checkFormat(source) == SourceFormat::png) {
    const PngChunks chunks = readPngChunks(source);
    if (chunks.images != 1) throw Failure(ExitStatus::unsupported, "unsupported_multiframe");
    size = chunks.declaredSize;
  } else {
    size = jpegFrameSize(source);
  }
  if (size) checkedSourceSize(size->width, size->height);
}

}  // namespace ombri_image
