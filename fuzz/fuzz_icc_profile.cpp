// libFuzzer target: an embedded ICC profile handed to lcms2 for the
// conversion of a thumbnail into sRGB. The bytes are the profile; the
// bitmap is a small gradient. A profile that is refused must leave the
// pixels as they were.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "raster/membitmap.h"
#include "raster/srgb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemBitmap bitmap;
  if (!BitmapCreate(bitmap, 17, 5)) return 0;
  for (int32_t y = 0; y < bitmap.height; ++y) {
    for (int32_t x = 0; x < bitmap.width; ++x) {
      uint8_t* p = BitmapPixel(bitmap, x, y);
      p[0] = static_cast<uint8_t>(x * 15);
      p[1] = static_cast<uint8_t>(y * 60);
      p[2] = static_cast<uint8_t>(255 - x * 15);
    }
  }
  const size_t row = static_cast<size_t>(bitmap.width) * 3;
  uint8_t before[17 * 3 * 5];
  for (int32_t y = 0; y < bitmap.height; ++y) std::memcpy(before + y * row, BitmapPixel(bitmap, 0, y), row);
  if (!BitmapConvertToSrgb(bitmap, data, size)) {
    for (int32_t y = 0; y < bitmap.height; ++y) {
      if (std::memcmp(before + y * row, BitmapPixel(bitmap, 0, y), row) != 0) std::abort();
    }
  }
  return 0;
}
