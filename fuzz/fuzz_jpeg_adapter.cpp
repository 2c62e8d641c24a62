// libFuzzer target: the JPEG adapter (data source, error recovery, scale and
// colour choices) on arbitrary bytes. The last byte picks the load flags.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imagein/jpeg_adapter.h"
#include "imagein/load_codes.h"
#include "raster/membitmap.h"

namespace {

char file_path[] = "/tmp/fuzz_jpeg_adapter_XXXXXX";
int file_fd = -1;

bool WriteInput(const uint8_t* data, size_t size) {
  if (ftruncate(file_fd, 0) != 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(file_fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Images above this many pixels are only probed: decoding them tells nothing
// new and costs the fuzzer its speed.
constexpr uint64_t kMaxFuzzPixels = uint64_t{1} << 22;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // libjpeg's memory manager honours JPEGMEM: bound what it may take.
  setenv("JPEGMEM", "256M", 0);
  file_fd = mkstemp(file_path);
  if (file_fd < 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteInput(data, size)) return 0;
  int32_t width = 0, height = 0;
  if (JpegReadSize(file_path, &width, &height) == 1 &&
      uint64_t(width) * uint64_t(height) > kMaxFuzzPixels)
    return 0;
  const uint8_t choice = size > 0 ? data[size - 1] : 0;
  int32_t flags = 0;
  if (choice & 0x01) flags |= LF_GRAYSCALE;
  if (choice & 0x02) flags |= LF_QUANTIZE;
  if (choice & 0x04) flags |= LF_SCALE;
  if (choice & 0x08) flags |= LF_SCALE_BACK;
  if (choice & 0x10) flags |= LF_NO_QUANTIZE;
  if (choice & 0x20) flags |= LF_COLORMAP;
  if (choice & 0x40) flags |= LF_FIXED_PALETTE;
  const int32_t request = (choice & 0x80) ? 16 : 120;
  TMemBitmap bitmap;
  JpegLoadBitmap(file_path, request, request, bitmap, flags, (choice & 0x80) ? "key" : nullptr);
  if (bitmap.pixels != nullptr && bitmap.width > 0 && bitmap.height > 0) {
    // Touch the last byte of the pixel memory the bitmap claims to have.
    volatile uint8_t last = bitmap.pixels[bitmap.pixel_bytes - 1];
    (void)last;
  }
  return 0;
}
