// libFuzzer target: the HEIF/AVIF reader as the loading front end drives it
// (over a memory stream, without a bitmap of the promised size).

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "imagein/image_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DriveReaderLikeTheLoader(data, size, CreateHeifSource);
  return 0;
}
