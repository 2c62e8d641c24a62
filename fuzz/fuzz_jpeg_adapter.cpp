// libFuzzer target: the JPEG adapter (data source, error recovery, scale and
// colour choices, the memory and scan caps) on arbitrary bytes. The last byte
// picks the load flags.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/load_codes.h"
#include "raster/membitmap.h"

namespace {

TFuzzInputFile& Input() {
  static TFuzzInputFile file("fuzz_jpeg_adapter_", "");
  return file;
}

// Images above this many pixels are only probed: decoding them tells nothing
// new and costs the fuzzer its speed. Those the memory cap refuses are still
// decoded, since the refusal comes before any large allocation.
constexpr uint64_t kMaxFuzzPixels = uint64_t{1} << 22;

bool RefusedForMemory(int32_t width, int32_t height, uint64_t coefficient_bytes) {
  const uint64_t pixels = uint64_t{BitmapStride(width)} * static_cast<uint32_t>(height);
  return coefficient_bytes > kMaxPixelBytes || pixels > kMaxPixelBytes - coefficient_bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // libjpeg's memory manager honours JPEGMEM: bound what it may take.
  setenv("JPEGMEM", "256M", 0);
  Input();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!Input().Write(data, size)) return 0;
  int32_t width = 0, height = 0;
  uint64_t coefficient_bytes = 0;
  if (JpegReadDecodeNeeds(Input().Path(), &width, &height, &coefficient_bytes) == 1 &&
      uint64_t(width) * uint64_t(height) > kMaxFuzzPixels &&
      !RefusedForMemory(width, height, coefficient_bytes))
    return 0;
  const uint8_t choice = size > 0 ? data[size - 1] : 0;
  int32_t flags = 0;
  if (choice & 0x01) flags |= LF_GRAYSCALE;
  if (choice & 0x02) flags |= LF_QUANTIZE;
  if (choice & 0x04) flags |= LF_SCALE;
  if (choice & 0x08) flags |= LF_SCALE_BACK;
  if (choice & 0x10) flags |= LF_NO_QUANTIZE;
  if (choice & 0x20) flags |= LF_COLORMAP;
  if (choice & 0x40) flags |= LF_FIXED_PALETTE;
  const int32_t request = (choice & 0x80) ? 16 : 120;
  TMemBitmap bitmap;
  JpegLoadBitmap(Input().Path(), request, request, bitmap, flags, (choice & 0x80) ? "key" : nullptr);
  if (bitmap.pixels != nullptr && bitmap.width > 0 && bitmap.height > 0) {
    // Touch the last byte of the pixel memory the bitmap claims to have.
    volatile uint8_t last = bitmap.pixels[bitmap.pixel_bytes - 1];
    (void)last;
  }
  return 0;
}
