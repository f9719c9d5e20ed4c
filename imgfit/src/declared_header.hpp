#pragma once
// The source's own word on what it holds, judged before a decoder opens it:
// libvips, libpng and libjpeg each have size limits of their own and would
// answer a declared size past ours with their failure instead of ours, and
// a decoder allocates what a chunk declares before it finds the file too short.

#include <cstdint>
#include <vector>

namespace ombri_image {

// In the order of the codec's failure codes: a PNG chunk that passes the end
// of the file ("image_decode_failed"), a PNG that holds other than one picture
// ("unsupported_multiframe"), then the declared size against the source size
// rules. What the header does not say is left to the decoder.
void checkDeclaredHeader(const std::vector<std::uint8_t>& source);

}  // namespace ombri_image
