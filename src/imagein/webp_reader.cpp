// The WebP reader: lossy, lossless and alpha files through libwebp, animated
// files (their first frame) through libwebp's animation decoder. The file is
// read through the buffered, sealed-file-aware reader into memory.

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstdlib>
#include <cstring>

#include "imagein/load_codes.h"
#include "imagein/format_codes.h"
#include "imagein/whole_image_source.h"

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
  const auto width = static_cast<uint32_t>(features.width);
  const auto height = static_cast<uint32_t>(features.height);
  // The RGBA block is the larger of the two taken here.
  if (!PixelsWithinCap(width, height, 4)) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  auto* rgba = static_cast<uint8_t*>(std::malloc(size_t{width} * 4 * height));
  if (rgba == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  const bool decoded = features.has_animation
                           ? DecodeFirstFrame(source->encoded, source->encoded_size, rgba, width, height)
                           : DecodeStill(source->encoded, source->encoded_size, rgba, width, height);
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
