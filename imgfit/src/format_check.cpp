#include "format_check.hpp"

#include <algorithm>
#include <array>

#include "failure.hpp"

namespace ombri_image {
namespace {

template <std::size_t N>
bool beginsWith(const std::vector<std::uint8_t>& bytes, const std::array<std::uint8_t, N>& signature) {
  return bytes.size() >= N && std::equal(signature.begin(), signature.end(), bytes.begin());
}

constexpr std::array<std::uint8_t, 3> kJpegSignature = {0xFF, 0xD8, 0xFF};
constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

SourceFormat checkFormat(const std::vector<std::uint8_t>& source) {
  if (beginsWith(source, kJpegSignature)) return SourceFormat::jpeg;
  if (beginsWith(source, kPngSignature)) return SourceFormat::png;
  throw Failure(ExitStatus::unsupported, "unsupported_format");
}

}  // namespace ombri_image
