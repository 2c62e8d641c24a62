// libFuzzer target: the PNG reader as the loading front end drives it (over a
// memory stream, without a bitmap of the promised size), and its header probe
// where it has one.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "imagein/format_codes.h"
#include "imagein/image_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DriveReaderLikeTheLoader(data, size, CreatePngSource);
  int32_t width = 0, height = 0;
  PngReadSize(data, size, &width, &height);
  return 0;
}
