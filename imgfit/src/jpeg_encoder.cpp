#include "jpeg_encoder.hpp"

// libjpeg's header needs size_t and FILE declared first.
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <array>
#include <csetjmp>
#include <new>

namespace ombri_image {
namespace {

// One encode's libjpeg state. Errors leave libjpeg by a long jump back to
// encodeJpeg, the way libjpeg expects its clients to take them; nothing on
// the way there owns a resource.
struct Encoder {
  jpeg_compress_struct compressor{};
  jpeg_error_mgr errors{};
  jpeg_destination_mgr destination{};
  std::jmp_buf escape{};
  OutputSink* sink = nullptr;
  // The sink sees the JPEG in pieces of this size, the last one shorter.
  std::array<JOCTET, 16384> buffer{};
};

Encoder& encoderOf(j_common_ptr common) { return *static_cast<Encoder*>(common->client_data); }
Encoder& encoderOf(j_compress_ptr compressor) { return *static_cast<Encoder*>(compressor->client_data); }

[[noreturn]] void escape(j_common_ptr common) { std::longjmp(encoderOf(common).escape, 1); }

// libjpeg would print its warnings on stderr; the tool writes one line only.
void discardMessage(j_common_ptr) {}

void startOutput(j_compress_ptr compressor) {
  Encoder& encoder = encoderOf(compressor);
  encoder.destination.next_output_byte = encoder.buffer.data();
  encoder.destination.free_in_buffer = encoder.buffer.size();
}

void deliver(Encoder& encoder, std::size_t count) {
  if (appendOutput(*encoder.sink, encoder.buffer.data(), count) != count) std::longjmp(encoder.escape, 1);
}

boolean deliverFullBuffer(j_compress_ptr compressor) {
  Encoder& encoder = encoderOf(compressor);
  deliver(encoder, encoder.buffer.size());
  startOutput(compressor);
  return TRUE;
}

void deliverRest(j_compress_ptr compressor) {
  Encoder& encoder = encoderOf(compressor);
  const std::size_t count = encoder.buffer.size() - encoder.destination.free_in_buffer;
  if (count != 0) deliver(encoder, count);
}

}  // namespace

std::size_t appendOutput(OutputSink& sink, const void* buffer, std::size_t count) {
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

JpegEncodeOutcome encodeJpeg(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, int quality,
                             OutputSink& sink) {
  Encoder encoder;
  encoder.sink = &sink;
  encoder.compressor.err = jpeg_std_error(&encoder.errors);
  encoder.errors.error_exit = escape;
  encoder.errors.output_message = discardMessage;
  encoder.compressor.client_data = &encoder;
  encoder.destination.init_destination = startOutput;
  encoder.destination.empty_output_buffer = deliverFullBuffer;
  encoder.destination.term_destination = deliverRest;

  // Read after a long jump, so kept in memory rather than in a register.
  volatile bool created = false;
  if (setjmp(encoder.escape) != 0) {
    jpeg_destroy_compress(&encoder.compressor);
    return created ? JpegEncodeOutcome::stopped : JpegEncodeOutcome::encoderUnavailable;
  }
  jpeg_create_compress(&encoder.compressor);
  created = true;

  jpeg_compress_struct& compressor = encoder.compressor;
  compressor.dest = &encoder.destination;
  compressor.image_width = width;
  compressor.image_height = height;
  compressor.input_components = 3;
  compressor.in_color_space = JCS_RGB;
  jpeg_set_defaults(&compressor);
  jpeg_set_quality(&compressor, quality, TRUE);
  // Huffman tables made for this picture: the same pixels in fewer bytes (a
  // tenth to a third fewer), still baseline, which every viewer reads. It
  // holds the picture's coefficients until the end, so the first refused
  // write comes only after the last row.
  compressor.optimize_coding = TRUE;
  jpeg_start_compress(&compressor, TRUE);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  while (compressor.next_scanline < compressor.image_height) {
    // libjpeg takes rows as writable pointers but only reads them.
    JSAMPROW row = const_cast<JSAMPLE*>(pixels + compressor.next_scanline * rowBytes);
    jpeg_write_scanlines(&compressor, &row, 1);
  }
  jpeg_finish_compress(&compressor);
  jpeg_destroy_compress(&compressor);
  return JpegEncodeOutcome::finished;
}

}  // namespace ombri_image
