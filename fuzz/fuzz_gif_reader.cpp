// libFuzzer target: the GIF reader on arbitrary bytes, driven the way the
// loading front end drives it, with the transparent colour asked for too.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

namespace {

void AskTransparentColor(TImageSource* source) {
  uint8_t red = 0, green = 0, blue = 0;
  GifTransparentColor(source, &red, &green, &blue);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DriveReaderLikeTheLoader(data, size, CreateGifSource, AskTransparentColor);
  return 0;
}
