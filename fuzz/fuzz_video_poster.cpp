// libFuzzer target: a video's facts and poster frame read from the input
// written to a file, through the same bounded open every video read uses.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "imagein/video.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFuzzInputFile input("video", ".mp4");
  if (!input.Write(data, size)) return 0;
  // Caps small enough that one input stays quick; their codes are paths too.
  TVideoLimits limits;
  limits.max_frame_pixels = 1024 * 1024;
  limits.max_cpu_seconds = 2.0;
  limits.scan_seconds = 1.0;
  TVideoFacts facts;
  TMemBitmap poster;
  const int32_t code = ReadVideoPoster(input.Path(), limits, &facts, &poster);
  if (code == 0 && (poster.pixels == nullptr || poster.width != facts.width || poster.height != facts.height)) {
    __builtin_trap();  // a poster is whole and of the shown size
  }
  if (code != 0 && poster.pixels != nullptr) __builtin_trap();
  return 0;
}
