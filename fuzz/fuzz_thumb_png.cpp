// libFuzzer target: the whole thumbnail path of a PNG file (see
// fuzz_thumbnail_path.h), classic and modern.

#include <cstddef>
#include <cstdint>

#include "fuzz_thumbnail_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  thumbnail_path::Run(data, size, ".png", false);
  return 0;
}
