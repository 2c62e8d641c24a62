// libFuzzer target: the stages after a decode, on bitmaps whose sizes,
// regions and pixels come from the input: the Lanczos reduction (whole, and
// fed row by row), the box shrink, the turn by each EXIF orientation, and the
// classic fit and stretch into a cell. Each must stay inside its bitmaps,
// write every output row, and keep sizes and pixels where they belong.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "raster/membitmap.h"
#include "raster/orient.h"
#include "raster/resample.h"

namespace {

// Reads the input a byte at a time, zeros once it runs out.
struct TBytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Next() { return at < size ? data[at++] : 0; }
  int32_t Range(int32_t low, int32_t high) { return low + static_cast<int32_t>(Next() % (high - low + 1)); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBytes in{data, size};
  const int32_t width = in.Range(1, 160);
  const int32_t height = in.Range(1, 160);
  const int32_t out_width = in.Range(1, 96);
  const int32_t out_height = in.Range(1, 96);
  const int32_t orientation = in.Range(0, 9);
  const int32_t factor = in.Range(1, 9);
  // The region: anywhere from a sliver to the whole, sometimes past the edges.
  TResampleRegion region;
  region.left = (in.Next() - 32) * width / 256.0;
  region.top = (in.Next() - 32) * height / 256.0;
  region.width = (in.Next() + 1) * width / 200.0;
  region.height = (in.Next() + 1) * height / 200.0;
  if ((in.Next() & 1) != 0) region = TResampleRegion{0, 0, static_cast<double>(width), static_cast<double>(height)};

  TMemBitmap source;
  if (!BitmapCreate(source, width, height)) return 0;
  const size_t pixel_start = in.at;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = BitmapPixel(source, 0, y);
    for (int32_t i = 0; i < width * 3; ++i) {
      const size_t k = pixel_start + static_cast<size_t>(y) * width * 3 + i;
      row[i] = size > pixel_start ? data[pixel_start + (k - pixel_start) % (size - pixel_start)] : 0;
    }
  }

  // Whole reduction, and the same fed row by row: the same pixels.
  TMemBitmap whole;
  if (BitmapResample(source, region, out_width, out_height, whole)) {
    if (whole.width != out_width || whole.height != out_height) std::abort();
    TMemBitmap streamed;
    TResampler resampler;
    if (BitmapCreate(streamed, out_width, out_height) &&
        ResamplerInit(&resampler, width, height, region, &streamed)) {
      uint8_t* rgb = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(width) * 3));
      if (rgb != nullptr) {
        for (int32_t y = 0; y < height; ++y) {
          const uint8_t* bgr = BitmapPixel(source, 0, y);
          for (int32_t x = 0; x < width; ++x) {
            rgb[x * 3] = bgr[x * 3 + 2];
            rgb[x * 3 + 1] = bgr[x * 3 + 1];
            rgb[x * 3 + 2] = bgr[x * 3];
          }
          ResamplerPushRow(&resampler, y, rgb);
        }
        std::free(rgb);
        if (!ResamplerFinished(&resampler)) std::abort();
        for (int32_t y = 0; y < out_height; ++y) {
          if (std::memcmp(BitmapPixel(whole, 0, y), BitmapPixel(streamed, 0, y), static_cast<size_t>(out_width) * 3) != 0)
            std::abort();
        }
      }
      ResamplerFree(&resampler);
    }
  }

  TMemBitmap shrunk;
  if (BitmapBoxShrink(source, factor, shrunk)) {
    if (shrunk.width != (width + factor - 1) / factor || shrunk.height != (height + factor - 1) / factor) std::abort();
  }

  // Each upright pixel is the stored pixel OrientedSource names.
  TMemBitmap upright;
  if (BitmapOrient(source, orientation, upright)) {
    const bool swap = OrientationSwapsSides(orientation);
    if (upright.width != (swap ? height : width) || upright.height != (swap ? width : height)) std::abort();
    for (int32_t y = 0; y < upright.height; ++y) {
      for (int32_t x = 0; x < upright.width; ++x) {
        int32_t sx = -1, sy = -1;
        OrientedSource(orientation, x, y, width, height, &sx, &sy);
        if (sx < 0 || sy < 0 || sx >= width || sy >= height) std::abort();
        if (std::memcmp(BitmapPixel(upright, x, y), BitmapPixel(source, sx, sy), 3) != 0) std::abort();
      }
    }
  }

  // The classic fit and stretch into a cell; the box stays inside the cell.
  TMemBitmap cell;
  if (BitmapCreate(cell, out_width, out_height)) {
    BitmapFill(cell, 0);
    TBltRect box{0, 0, out_width - 1, out_height - 1};
    const TBltRect src{0, 0, width - 1, height - 1};
    FitRect(box, src, 1, 1, 1, width, height, 1);
    if (box.left < 0 || box.top < 0 || box.right >= out_width || box.bottom >= out_height || box.left > box.right ||
        box.top > box.bottom) {
      std::abort();
    }
    BitmapStretch(cell, static_cast<uint32_t>(box.left), static_cast<uint32_t>(box.top),
                  static_cast<uint32_t>(box.right), static_cast<uint32_t>(box.bottom), source, 0, 0,
                  static_cast<uint32_t>(width - 1), static_cast<uint32_t>(height - 1));
  }
  return 0;
}
