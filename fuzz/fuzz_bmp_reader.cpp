// libFuzzer target: the Bmp reader through the reader pipeline. The input
// is written to a file, which the loader reads like any image.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFuzzInputFile input("fuzz_bmp_reader_", ".bmp");
  if (!input.Write(data, size)) return 0;
  TMemBitmap bitmap;
  LoadImageWithReader(input.Path(), 0, 0, bitmap, kThumbnailLoadFlags, nullptr, kReaderBmp);
  return 0;
}
