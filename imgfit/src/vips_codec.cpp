#include "vips_codec.hpp"

#include <vips/vips.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "declared_header.hpp"
#include "failure.hpp"
#include "image_geometry.hpp"
#include "jpeg_encoder.hpp"

namespace ombri_image {
namespace {

void discardLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

GLogWriterOutput discardLogRecord(GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }

// Once per process. The tool writes nothing but its one line, so libvips'
// warnings (a damaged tail, an odd profile) are silenced.
void startVips() {
  static const bool started = [] {
    g_log_set_writer_func(discardLogRecord, nullptr, nullptr);
    g_log_set_default_handler(discardLogMessage, nullptr);
    // libvips loads its optional loader modules (PDF, HEIF, ImageMagick, ...)
    // from under VIPSHOME. JPEG and PNG are built in; a prefix without modules
    // keeps the others, their start-up time and their memory out of the process.
    g_setenv("VIPSHOME", "/nonexistent", TRUE);
    if (VIPS_INIT("imgfit") != 0) return false;
    // Every render starts afresh; cached operations would only hold memory.
    vips_cache_set_max(0);
    // A render is mostly one sequential decode: past four workers, starting
    // threads and filling their buffers costs more than they take over.
    vips_concurrency_set(std::min(vips_concurrency_get(), 4));
    return true;
  }();
  if (!started) throw Failure(ExitStatus::codecFailed, "image_decode_failed");
}

// libvips keeps its reasons in a per-thread buffer; the codes say enough.
[[noreturn]] void fail(ExitStatus status, const char* code) {
  vips_error_clear();
  throw Failure(status, code);
}

// Truncated data must not pass as a picture with a grey tail.
constexpr VipsFailOn kFailOn = VIPS_FAIL_ON_TRUNCATED;

// The raw EXIF value leads libvips' text of the tag: "6 (Right-top, Short, ...)".
// libvips' own orientation field is clamped to 1..8, which would hide a bad one.
std::optional<std::int64_t> numericOrientation(VipsImage* header) {
  constexpr const char* kField = "exif-ifd0-Orientation";
  const char* text = nullptr;
  if (vips_image_get_typeof(header, kField) == 0 || vips_image_get_string(header, kField, &text) != 0) {
    vips_error_clear();
    return std::nullopt;
  }
  const std::string_view view(text);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (error != std::errc() || (end != view.data() + view.size() && *end != ' ')) return std::nullopt;
  return value;
}

bool loadedBy(VipsImage* header, std::string_view loaderPrefix) {
  const char* loader = nullptr;
  return vips_image_get_string(header, VIPS_META_LOADER, &loader) == 0 &&
         std::string_view(loader).starts_with(loaderPrefix);
}

// Replaces `image` by the output of one libvips operation.
template <class Operation>
void apply(GObjectRef<VipsImage>& image, Operation operation) {
  VipsImage* result = nullptr;
  if (operation(image.get(), &result) != 0) fail(ExitStatus::codecFailed, "image_render_failed");
  image.reset(result);
}

// Transparent parts become white. Flattening before the resize gives what a
// resize of the premultiplied picture followed by flattening would give,
// without its float intermediate at full size.
void flattenOntoWhite(GObjectRef<VipsImage>& image) {
  if (!vips_image_hasalpha(image.get())) return;
  const VipsInterpretation kind = vips_image_get_interpretation(image.get());
  const double white = kind == VIPS_INTERPRETATION_RGB16 || kind == VIPS_INTERPRETATION_GREY16 ? 65535.0 : 255.0;
  apply(image, [white](VipsImage* in, VipsImage** out) {
    VipsArrayDouble* background = vips_array_double_newv(1, white);
    const int status = vips_flatten(in, out, "background", background, "max_alpha", white, nullptr);
    vips_area_unref(VIPS_AREA(background));
    return status;
  });
}

// Lanczos to exactly `size`; the scales are exact ratios, so libvips'
// rounding of the output size lands on it.
void resizeTo(GObjectRef<VipsImage>& image, PixelSize size) {
  const int width = vips_image_get_width(image.get());
  const int height = vips_image_get_height(image.get());
  if (static_cast<std::uint32_t>(width) == size.width && static_cast<std::uint32_t>(height) == size.height) return;
  apply(image, [&](VipsImage* in, VipsImage** out) {
    return vips_resize(in, out, static_cast<double>(size.width) / width, "vscale",
                       static_cast<double>(size.height) / height, "kernel", VIPS_KERNEL_LANCZOS3, nullptr);
  });
}

// 8-bit sRGB with three bands, whatever the source's space and depth.
void convertToSrgb(GObjectRef<VipsImage>& image, bool hasProfile) {
  if (hasProfile) {
    VipsImage* result = nullptr;
    // A profile that cannot be read is ignored, as viewers do.
    if (vips_icc_transform(image.get(), &result, "srgb", "embedded", TRUE, "intent", VIPS_INTENT_RELATIVE, nullptr) ==
        0) {
      image.reset(result);
    } else {
      vips_error_clear();
    }
  }
  if (vips_image_get_interpretation(image.get()) != VIPS_INTERPRETATION_sRGB) {
    apply(image,
          [](VipsImage* in, VipsImage** out) { return vips_colourspace(in, out, VIPS_INTERPRETATION_sRGB, nullptr); });
  }
  if (vips_image_get_format(image.get()) != VIPS_FORMAT_UCHAR) {
    apply(image, [](VipsImage* in, VipsImage** out) { return vips_cast_uchar(in, out, nullptr); });
  }
  if (vips_image_get_bands(image.get()) != 3) fail(ExitStatus::codecFailed, "image_render_failed");
}

// The largest JPEG decode scale that keeps both sides at least `size`: the
// decoder then skips most of the work, and Lanczos does the rest.
int jpegShrink(PixelSize stored, PixelSize size) {
  for (const std::uint32_t shrink : {8u, 4u, 2u}) {
    if (stored.width / shrink >= size.width && stored.height / shrink >= size.height) return static_cast<int>(shrink);
  }
  return 1;
}

}  // namespace

VipsCodec::VipsCodec(const std::vector<std::uint8_t>& source) : source_(source) {
  startVips();
  checkDeclaredHeader(source);
  GObjectRef<VipsSource> input(vips_source_new_from_memory(source.data(), source.size()));
  if (!input) fail(ExitStatus::codecFailed, "image_decode_failed");
  // Reads the header only; the pixels are decoded by render.
  GObjectRef<VipsImage> header(
      vips_image_new_from_source(input.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", kFailOn, nullptr));
  if (!header) fail(ExitStatus::codecFailed, "image_decode_failed");
  // An animated PNG has been counted by checkDeclaredHeader: libvips reads
  // its first frame as if it were the whole.
  if (vips_image_get_n_pages(header.get()) != 1) fail(ExitStatus::unsupported, "unsupported_multiframe");

  const PixelSize stored = checkedSourceSize(vips_image_get_width(header.get()), vips_image_get_height(header.get()));
  const PixelSize display = displaySize(stored, checkedOrientation(numericOrientation(header.get())));
  isJpeg_ = loadedBy(header.get(), "jpegload");
  hasProfile_ = vips_image_get_typeof(header.get(), VIPS_META_ICC_NAME) != 0;
  interlaced_ = vips_image_get_typeof(header.get(), "interlaced") != 0;
  sourceWidth = stored.width;
  sourceHeight = stored.height;
  displayWidth = display.width;
  displayHeight = display.height;
}

GObjectRef<VipsImage> VipsCodec::open(int jpegShrink) const {
  GObjectRef<VipsSource> input(vips_source_new_from_memory(source_.data(), source_.size()));
  if (!input) fail(ExitStatus::codecFailed, "image_decode_failed");
  GObjectRef<VipsImage> picture(isJpeg_ ? vips_image_new_from_source(input.get(), "", "access", VIPS_ACCESS_SEQUENTIAL,
                                                                     "fail_on", kFailOn, "shrink", jpegShrink, nullptr)
                                        : vips_image_new_from_source(input.get(), "", "access", VIPS_ACCESS_SEQUENTIAL,
                                                                     "fail_on", kFailOn, nullptr));
  if (!picture) fail(ExitStatus::codecFailed, "image_decode_failed");
  flattenOntoWhite(picture);
  return picture;
}

GObjectRef<VipsImage> VipsCodec::decoded(int shrink) {
  if (!decoded_ || decodedShrink_ != shrink) {
    decoded_.reset();
    GObjectRef<VipsImage> picture = open(shrink);
    // libvips decodes an interlaced PNG whole into memory, where every render
    // can read it again; any other source is a stream that can be read once,
    // so its pixels are copied into memory.
    if (isJpeg_ || !interlaced_) {
      picture.reset(vips_image_copy_memory(picture.get()));
      if (!picture) fail(ExitStatus::codecFailed, "image_decode_failed");
    }
    decoded_ = std::move(picture);
    decodedShrink_ = shrink;
  }
  return decoded_.share();
}

void VipsCodec::render(std::uint32_t edge) {
  rendered_.reset();
  const PixelSize target = targetSize({displayWidth, displayHeight}, edge);
  // The picture is resized as stored and turned upright once it is small;
  // a quarter turn exchanges the display sides against the stored ones.
  const PixelSize stored{sourceWidth, sourceHeight};
  const PixelSize unturned = displayWidth == sourceWidth ? target : PixelSize{target.height, target.width};

  GObjectRef<VipsImage> picture = decoded(isJpeg_ ? jpegShrink(stored, unturned) : 1);
  resizeTo(picture, unturned);
  convertToSrgb(picture, hasProfile_);

  // Materialised: up to nine encodes read it, and an encode stopped by the
  // budget must leave it intact for the next.
  GObjectRef<VipsImage> pixels(vips_image_copy_memory(picture.get()));
  if (!pixels) fail(ExitStatus::codecFailed, "image_decode_failed");
  // Turning needs random access, which the sequential decode does not give,
  // so it works on the small picture in memory.
  if (vips_image_get_orientation(pixels.get()) != 1) {
    apply(pixels, [](VipsImage* in, VipsImage** out) { return vips_autorot(in, out, nullptr); });
    pixels.reset(vips_image_copy_memory(pixels.get()));
    if (!pixels) fail(ExitStatus::codecFailed, "image_render_failed");
  }
  if (static_cast<std::uint32_t>(vips_image_get_width(pixels.get())) != target.width ||
      static_cast<std::uint32_t>(vips_image_get_height(pixels.get())) != target.height) {
    fail(ExitStatus::codecFailed, "image_render_failed");
  }
  rendered_ = std::move(pixels);
  width = target.width;
  height = target.height;
}

std::vector<std::uint8_t> VipsCodec::encode(double quality, std::uint64_t budget) {
  // libjpeg directly on the rendered pixels: libvips' own threaded JPEG
  // writer can hang when its target refuses a write, which the budget does.
  const auto* pixels = static_cast<const std::uint8_t*>(vips_image_get_data(rendered_.get()));
  if (pixels == nullptr) fail(ExitStatus::codecFailed, "jpeg_encode_failed");
  OutputSink sink{{}, budget, false};
  const JpegEncodeOutcome outcome =
      encodeJpeg(pixels, width, height, static_cast<int>(std::lround(quality * 100)), sink);
  if (outcome == JpegEncodeOutcome::encoderUnavailable) fail(ExitStatus::codecFailed, "jpeg_encoder_unavailable");
  if (sink.overflowed) return {};
  if (outcome != JpegEncodeOutcome::finished || sink.data.empty()) fail(ExitStatus::codecFailed, "jpeg_encode_failed");
  return std::move(sink.data);
}

}  // namespace ombri_image
