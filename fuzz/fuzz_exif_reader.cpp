// libFuzzer target: the EXIF facts reader on arbitrary bytes, as a bare EXIF
// block and, when the bytes start like a JPEG file, through the file probe's
// marker walk; there the size and orientation read together from a copy of
// the head must also be what the probes that read the file give.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "imagein/exif.h"
#include "imagein/jpeg_adapter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TExifFacts facts;
  ParseExifFacts(data, size, &facts);
  if (facts.orientation < 1 || facts.orientation > 8) __builtin_trap();
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) {
    static TFuzzInputFile file("fuzz_exif_reader_", ".jpg");
    if (!file.Write(data, size)) return 0;
    ReadExifFacts(file.Path(), &facts);
    if (facts.orientation < 1 || facts.orientation > 8) __builtin_trap();
    int32_t width = 0, height = 0, orientation = 0;
    const int together = JpegReadSizeAndOrientation(file.Path(), &width, &height, &orientation);
    int32_t file_width = 0, file_height = 0;
    const int apart = JpegReadSize(file.Path(), &file_width, &file_height);
    if (together != apart || width != file_width || height != file_height) __builtin_trap();
    if (together != 0 && orientation != facts.orientation) __builtin_trap();
  }
  return 0;
}
