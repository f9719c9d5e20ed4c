#include "vips_codec.hpp"

#include <vips/vips.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "failure.hpp"
#include "image_geometry.hpp"
#include "png_animation.hpp"

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
    if (VIPS_INIT("imgfit") != 0) return false;
    // Every render starts afresh; cached operations would only hold memory.
    vips_cache_set_max(0);
    return true;
  }();
  if (!started) throw Failure(5, "image_decode_failed");
}

// libvips keeps its reasons in a per-thread buffer; the codes say enough.
[[noreturn]] void fail(int status, const char* code) {
  vips_error_clear();
  throw Failure(status, code);
}

// Truncated data must not pass as a picture with a grey tail. The thumbnail
// hands this to its loader only through the option string.
constexpr VipsFailOn kFailOn = VIPS_FAIL_ON_TRUNCATED;
constexpr const char* kLoaderOptions = "fail_on=truncated";

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

bool loadedAsPng(VipsImage* header) {
  const char* loader = nullptr;
  return vips_image_get_string(header, VIPS_META_LOADER, &loader) == 0 &&
         std::string_view(loader).starts_with("pngload");
}

// Replaces `image` by the output of one libvips operation.
template <class Operation>
void apply(GObjectRef<VipsImage>& image, Operation operation) {
  VipsImage* result = nullptr;
  if (operation(image.get(), &result) != 0) fail(5, "image_render_failed");
  image.reset(result);
}

// Transparent parts become white, then the picture becomes 8-bit sRGB.
void putOnWhiteSrgb(GObjectRef<VipsImage>& image) {
  if (vips_image_hasalpha(image.get())) {
    const VipsInterpretation kind = vips_image_get_interpretation(image.get());
    const double white = kind == VIPS_INTERPRETATION_RGB16 || kind == VIPS_INTERPRETATION_GREY16 ? 65535.0 : 255.0;
    apply(image, [white](VipsImage* in, VipsImage** out) {
      VipsArrayDouble* background = vips_array_double_newv(1, white);
      const int status = vips_flatten(in, out, "background", background, "max_alpha", white, nullptr);
      vips_area_unref(VIPS_AREA(background));
      return status;
    });
  }
  if (vips_image_get_interpretation(image.get()) != VIPS_INTERPRETATION_sRGB) {
    apply(image, [](VipsImage* in, VipsImage** out) {
      return vips_colourspace(in, out, VIPS_INTERPRETATION_sRGB, nullptr);
    });
  }
  if (vips_image_get_format(image.get()) != VIPS_FORMAT_UCHAR) {
    apply(image, [](VipsImage* in, VipsImage** out) { return vips_cast_uchar(in, out, nullptr); });
  }
  if (vips_image_get_bands(image.get()) != 3) fail(5, "image_render_failed");
}

gint64 writeToSink(VipsTargetCustom*, const void* data, gint64 length, gpointer sink) {
  const auto count = static_cast<std::size_t>(length);
  return appendOutput(*static_cast<JpegSink*>(sink), data, count) == count ? length : -1;
}

}  // namespace

std::size_t appendOutput(JpegSink& sink, const void* buffer, std::size_t count) {
  if (sink.budget - sink.data.size() < count) {
    sink.overflowed = true;
    return 0;
  }
  try {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    sink.data.insert(sink.data.end(), bytes, bytes + count);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return count;
}

VipsCodec::VipsCodec(const std::vector<std::uint8_t>& source) : source_(source) {
  startVips();
  GObjectRef<VipsSource> input(vips_source_new_from_memory(source.data(), source.size()));
  if (!input) fail(5, "image_decode_failed");
  // Reads the header only; the pixels are decoded by render.
  GObjectRef<VipsImage> header(vips_image_new_from_source(input.get(), "", "access", VIPS_ACCESS_SEQUENTIAL,
                                                          "fail_on", kFailOn, nullptr));
  if (!header) fail(5, "image_decode_failed");
  // libvips reads the first frame of an animated PNG as if it were the whole.
  if (vips_image_get_n_pages(header.get()) != 1 || (loadedAsPng(header.get()) && declaresAnimation(source))) {
    fail(3, "unsupported_multiframe");
  }

  const PixelSize stored = checkedSourceSize(vips_image_get_width(header.get()), vips_image_get_height(header.get()));
  const PixelSize display = displaySize(stored, checkedOrientation(numericOrientation(header.get())));
  hasProfile_ = vips_image_get_typeof(header.get(), VIPS_META_ICC_NAME) != 0;
  sourceWidth = stored.width;
  sourceHeight = stored.height;
  displayWidth = display.width;
  displayHeight = display.height;
}

void VipsCodec::render(std::uint32_t edge) {
  rendered_.reset();
  const PixelSize target = targetSize({displayWidth, displayHeight}, edge);

  GObjectRef<VipsSource> input(vips_source_new_from_memory(source_.data(), source_.size()));
  VipsImage* thumbnail = nullptr;
  // Shrinks on load where the format allows, turns the picture upright,
  // converts an embedded profile to sRGB and downsizes with Lanczos to
  // exactly the target size. An untagged source is sRGB already: a profile
  // round trip would only shift its saturated colours.
  if (!input || vips_thumbnail_source(input.get(), &thumbnail, static_cast<int>(target.width), "height",
                                      static_cast<int>(target.height), "size", VIPS_SIZE_FORCE, "export_profile",
                                      hasProfile_ ? "srgb" : nullptr, "option_string", kLoaderOptions,
                                      nullptr) != 0) {
    fail(5, "image_decode_failed");
  }
  GObjectRef<VipsImage> picture(thumbnail);
  putOnWhiteSrgb(picture);

  // Materialised once: up to nine encodes read it, and an encode stopped by
  // the budget must leave it intact for the next.
  GObjectRef<VipsImage> pixels(vips_image_copy_memory(picture.get()));
  if (!pixels) fail(5, "image_decode_failed");
  if (static_cast<std::uint32_t>(vips_image_get_width(pixels.get())) != target.width ||
      static_cast<std::uint32_t>(vips_image_get_height(pixels.get())) != target.height) {
    fail(5, "image_render_failed");
  }
  rendered_ = std::move(pixels);
  width = target.width;
  height = target.height;
}

std::vector<std::uint8_t> VipsCodec::encode(double quality, std::uint64_t budget) {
  JpegSink sink{{}, budget, false};
  GObjectRef<VipsTargetCustom> target(vips_target_custom_new());
  if (!target || vips_type_find("VipsOperation", "jpegsave_target") == 0) fail(5, "jpeg_encoder_unavailable");
  g_signal_connect(target.get(), "write", G_CALLBACK(writeToSink), &sink);

  // Streamed Huffman tables (no optimize pass), so the sink sees the bytes as
  // they are made and an encode over budget stops at its first refused write.
  const int status = vips_jpegsave_target(rendered_.get(), VIPS_TARGET(target.get()), "Q",
                                          static_cast<int>(std::lround(quality * 100)), "strip", TRUE,
                                          "optimize_coding", FALSE, nullptr);
  if (sink.overflowed) {
    vips_error_clear();
    return {};
  }
  if (status != 0 || sink.data.empty()) fail(5, "jpeg_encode_failed");
  return std::move(sink.data);
}

}  // namespace ombri_image
