// libFuzzer target: the FITS reader on arbitrary bytes, driven the way the
// loading front end drives it.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DriveReaderLikeTheLoader(data, size, CreateFitsSource);
  return 0;
}
