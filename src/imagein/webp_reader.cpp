// The WebP reader: lossy, lossless and alpha files through libwebp, animated
// files (their first frame) through libwebp's animation decoder. The file is
// read through the buffered, sealed-file-aware reader into memory. A still
// asked for at a reduced size is decoded at that size by libwebp's scaler,
// which works row by row: a lossy file then never has its full-size pixels
// in memory.

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstdlib>
#include <cstring>

#include "imagein/load_codes.h"
#include "imagein/format_codes.h"
#include "imagein/whole_image_source.h"
#include "raster/membitmap.h"

namespace {

int32_t CodeOfStatus(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_NOT_ENOUGH_DATA: return kWebpTruncated;
    case VP8_STATUS_UNSUPPORTED_FEATURE: return kWebpUnsupported;
    case VP8_STATUS_OUT_OF_MEMORY: return kLoadNoPixelMemory;
    default: return kWebpDamaged;
  }
}

// Decodes into RGBA rows in `rgba` (width * 4 bytes each); false when the
// library refuses.
bool DecodeStill(const uint8_t* data, size_t size, uint8_t* rgba, uint32_t width, uint32_t height) {
  const size_t stride = size_t{width} * 4;
  return WebPDecodeRGBAInto(data, size, rgba, stride * height, static_cast<int>(stride)) != nullptr;
}

// Decodes scaled to width x height RGBA rows in `rgba`; false when the
// library refuses.
bool DecodeScaled(const uint8_t* data, size_t size, uint8_t* rgba, uint32_t width, uint32_t height) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return false;
  config.options.use_scaling = 1;
  config.options.scaled_width = static_cast<int>(width);
  config.options.scaled_height = static_cast<int>(height);
  config.output.colorspace = MODE_RGBA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = rgba;
  config.output.u.RGBA.stride = static_cast<int>(size_t{width} * 4);
  config.output.u.RGBA.size = size_t{width} * 4 * height;
  const bool ok = WebPDecode(data, size, &config) == VP8_STATUS_OK;
  WebPFreeDecBuffer(&config.output);
  return ok;
}

// The first frame of an animation, composed on its canvas (transparent where
// the frame leaves the canvas empty).
bool DecodeFirstFrame(const uint8_t* data, size_t size, uint8_t* rgba, uint32_t width, uint32_t height) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return false;
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  const WebPData webp_data{data, size};
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&webp_data, &options);
  if (decoder == nullptr) return false;
  WebPAnimInfo info;
  uint8_t* frame = nullptr;
  int timestamp = 0;
  const bool ok = WebPAnimDecoderGetInfo(decoder, &info) && info.canvas_width == width &&
                  info.canvas_height == height && WebPAnimDecoderGetNext(decoder, &frame, &timestamp) &&
                  frame != nullptr;
  if (ok) std::memcpy(rgba, frame, size_t{width} * 4 * height);
  WebPAnimDecoderDelete(decoder);
  return ok;
}

void WebpStartInput(TReaderContext* context, TImageSource* base) {
  auto* source = static_cast<TWholeImageSource*>(base);
  if (!ReadWholeFile(context, source)) return;
  const uint8_t* data = source->encoded;
  if (source->encoded_size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0) {
    ReaderRaiseError(context, kWebpNotWebp);
    return;
  }
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(source->encoded, source->encoded_size, &features);
  if (status != VP8_STATUS_OK) {
    ReaderRaiseError(context, CodeOfStatus(status));
    return;
  }
  if (features.width <= 0 || features.height <= 0) {
    ReaderRaiseError(context, kLoadEmptyImage);
    return;
  }
  const auto full_width = static_cast<uint32_t>(features.width);
  const auto full_height = static_cast<uint32_t>(features.height);
  const bool scaled = !features.has_animation && context->wanted_width > 0 && context->wanted_height > 0 &&
                      context->wanted_width <= full_width && context->wanted_height <= full_height &&
                      (context->wanted_width < full_width || context->wanted_height < full_height);
  const uint32_t width = scaled ? context->wanted_width : full_width;
  const uint32_t height = scaled ? context->wanted_height : full_height;
  // What libwebp holds at full size whatever the output: a lossless image's
  // ARGB pixels whole, a lossy image's alpha plane.
  uint64_t library_bytes_per_pixel = 0;
  if (features.format != 1) library_bytes_per_pixel = 4;
  else if (features.has_alpha) library_bytes_per_pixel = 1;
  // Beside it the RGBA block of the output, and an animation's canvas and
  // the previous one.
  bool within_cap = false;
  if (scaled) {
    // Both sides within the cap, so every product below stays far from overflow.
    within_cap = PixelsWithinCap(full_width, full_height, 1) && WholeImageWithinCap(source, width, height, 4) &&
                 library_bytes_per_pixel * full_width * full_height + source->encoded_size +
                         uint64_t{width} * height * 4 <= kMaxPixelBytes;
  } else {
    within_cap = WholeImageWithinCap(source, width, height,
                                     4 + library_bytes_per_pixel + (features.has_animation ? 8 : 0));
  }
  if (!within_cap) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  auto* rgba = static_cast<uint8_t*>(std::malloc(size_t{width} * 4 * height));
  if (rgba == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  bool decoded = false;
  if (features.has_animation) decoded = DecodeFirstFrame(source->encoded, source->encoded_size, rgba, width, height);
  else if (scaled) decoded = DecodeScaled(source->encoded, source->encoded_size, rgba, width, height);
  else decoded = DecodeStill(source->encoded, source->encoded_size, rgba, width, height);
  ReleaseEncoded(source);
  if (!decoded) {
    std::free(rgba);
    ReaderRaiseError(context, kWebpDamaged);
    return;
  }
  AdoptRgbaImage(context, source, rgba, width, height);
}

}  // namespace

TImageSource* CreateWebpSource(TReaderContext* context) {
  return CreateWholeImageSource(context, WebpStartInput);
}

bool WebpReadSize(const uint8_t* head, size_t size, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  int w = 0;
  int h = 0;
  if (!WebPGetInfo(head, size, &w, &h) || w <= 0 || h <= 0) return false;
  *width = w;
  *height = h;
  return true;
}
