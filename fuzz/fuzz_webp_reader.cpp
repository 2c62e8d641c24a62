// libFuzzer target: the WEBP reader as the loading front end drives it (over a
// memory stream, without a bitmap of the promised size), and its header probe
// where it has one.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "imagein/format_codes.h"
#include "imagein/image_source.h"

namespace {

// A lossless WebP of a few hundred bytes can be a flat picture of 8000 x 6000
// pixels: a legal file that takes half a minute to decode under the
// sanitizers, and no fault. Larger pictures are only probed here, so that
// each input stays quick and the search covers more of the parser; the
// pixel cap that bounds them in the reader is checked in the tests.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t width = 0, height = 0;
  if (WebpReadSize(data, size, &width, &height) && int64_t{width} * height > kMaxFuzzPixels) return 0;
  DriveReaderLikeTheLoader(data, size, CreateWebpSource);
  return 0;
}
