// libFuzzer target: the FITS reader on arbitrary bytes, driven the way the
// loading front end drives it (StartInput; stop when anything was raised; rows
// until the reader stops, the image is full or a warning was raised), over a
// memory stream so that no bitmap of the promised size slows the search.
// After the last row one more GetRows call checks that a stopped reader stays
// safe to call.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "imagein/image_source.h"
#include "imagein/jpeg_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return 0;
  TJpegErrorManager manager;
  TReaderContext context;
  context.common.err = JpegErrorInit(&manager);
  TImageSource* source = CreateFitsSource(&context);
  if (source == nullptr) {
    std::fclose(file);
    return 0;
  }
  source->reader.file = file;
  source->StartInput(&context, source);
  if (manager.pub.num_warnings == 0 && context.image_width > 0 && context.image_height > 0) {
    const size_t row_bytes = size_t{context.image_width} * static_cast<size_t>(context.input_components);
    uint32_t checksum = 0;
    for (uint32_t row = 0; row < context.image_height; ++row) {
      if (source->GetRows(&context, source) == 0 || manager.pub.num_warnings > 0) break;
      // Touch the whole row, so a short or missing row buffer shows.
      for (size_t i = 0; i < row_bytes; ++i) checksum += source->row_buffer[i];
    }
    source->GetRows(&context, source);
    if (checksum == 0xFFFFFFFFu) std::fputc(0, stderr);  // keep the reads
  }
  source->FinishInput(&context, source);
  source->Destroy(source);
  std::fclose(file);
  return 0;
}
