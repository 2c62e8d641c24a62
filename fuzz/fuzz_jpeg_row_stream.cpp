// libFuzzer target: the row-by-row JPEG decode of the modern images (marker
// saving, EXIF and ICC assembly, DCT scale choice, CMYK rows) on arbitrary
// bytes. The last byte picks the smallest size asked for.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "imagein/jpeg_row_stream.h"

namespace {

// Images above this many pixels are only planned, not decoded.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 22;

struct TSink {
  int32_t min_side = 1;
  int32_t width = 0;
  uint64_t checksum = 0;
};

bool Plan(void* context, const TJpegStreamHeader& header, int32_t* min_width, int32_t* min_height) {
  TSink* sink = static_cast<TSink*>(context);
  if (int64_t{header.width} * header.height > kMaxFuzzPixels) return false;
  *min_width = sink->min_side;
  *min_height = sink->min_side;
  return true;
}

bool Start(void* context, int32_t width, int32_t) {
  static_cast<TSink*>(context)->width = width;
  return true;
}

void Row(void* context, int32_t, const uint8_t* rgb) {
  TSink* sink = static_cast<TSink*>(context);
  // Touch every byte handed over, so that a short row shows under ASan.
  for (int32_t i = 0; i < sink->width * 3; ++i) sink->checksum += rgb[i];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("JPEGMEM", "256M", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static TFuzzInputFile file("fuzz_jpeg_row_stream_", ".jpg");
  if (!file.Write(data, size - 1)) return 0;
  TSink state;
  state.min_side = 1 + data[size - 1] * 16;
  TJpegRowSink sink;
  sink.context = &state;
  sink.plan = Plan;
  sink.start = Start;
  sink.row = Row;
  TJpegStreamFacts facts;
  JpegStreamRows(file.Path(), sink, &facts);
  std::free(facts.icc);
  return 0;
}
