// libFuzzer target: the EXIF facts reader on arbitrary bytes, as a bare EXIF
// block and, when the bytes start like a JPEG file, through the file probe's
// marker walk.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "imagein/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TExifFacts facts;
  ParseExifFacts(data, size, &facts);
  if (facts.orientation < 1 || facts.orientation > 8) __builtin_trap();
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) {
    static TFuzzInputFile file("fuzz_exif_reader_", ".jpg");
    if (file.Write(data, size)) ReadExifFacts(file.Path(), &facts);
    if (facts.orientation < 1 || facts.orientation > 8) __builtin_trap();
  }
  return 0;
}
