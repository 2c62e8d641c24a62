#include "imagein/load_peak.h"

#include "imagein/jpeg_adapter.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"
#include "support/path_util.h"

namespace {

bool SetSize(TLoadPeak* peak, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return false;
  peak->width = static_cast<uint32_t>(width);
  peak->height = static_cast<uint32_t>(height);
  peak->pixel_bytes = uint64_t{BitmapStride(width)} * peak->height;
  peak->known = true;
  return true;
}

}  // namespace

TLoadPeak ReadLoadPeak(const char* path) {
  TLoadPeak peak;
  if (path == nullptr) return peak;
  int32_t width = 0;
  int32_t height = 0;
  if (HasExtension(path, ".gif")) {
    // The reader keeps a frame of one index byte per pixel beside the bitmap.
    if (GifReadScreenSize(path, &width, &height) && SetSize(&peak, width, height))
      peak.decoder_bytes = uint64_t{peak.width} * peak.height;
    return peak;
  }
  if (HasExtension(path, ".bmp")) {
    if (BmpReadSize(path, &width, &height)) SetSize(&peak, width, height);
    return peak;
  }
  if (HasExtension(path, ".tga")) {
    if (TargaReadSize(path, &width, &height)) SetSize(&peak, width, height);
    return peak;
  }
  if (HasExtension(path, ".fts") || HasExtension(path, ".fits")) return peak;
  uint64_t coefficient_bytes = 0;
  if (JpegReadDecodeNeeds(path, &width, &height, &coefficient_bytes) == 1 &&
      SetSize(&peak, width, height)) {
    peak.jpeg = true;
    peak.decoder_bytes = coefficient_bytes;
  }
  return peak;
}

bool LoadPeakRefusedByJpeg(const TLoadPeak& peak) {
  return peak.known && peak.jpeg && (peak.decoder_bytes > kMaxPixelBytes ||
                        peak.pixel_bytes > kMaxPixelBytes - peak.decoder_bytes);
}
