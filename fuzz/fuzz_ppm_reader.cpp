// libFuzzer target: the PPM reader kept with the tests, through the reader
// pipeline, and its header probe.

#include <cstddef>
#include <cstdint>

#include "fixtures/ppm_reader.h"
#include "fuzz_support.h"
#include "imagein/loader.h"
#include "imagein/reader_pipeline.h"
#include "raster/membitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFuzzInputFile input("fuzz_ppm_reader_", ".ppm");
  if (!input.Write(data, size)) return 0;
  TImageProbe probe;
  ProbePpm(input.Path(), &probe);
  TMemBitmap bitmap;
  LoadImageWithSource(input.Path(), 0, 0, bitmap, kThumbnailLoadFlags, nullptr, CreatePpmSource, false);
  return 0;
}
