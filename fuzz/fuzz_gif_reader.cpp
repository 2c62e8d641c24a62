// libFuzzer target: the GIF reader through the reader pipeline. The input
// is written to a temporary file, which the loader reads like any image; the
// input's length picks one of four load-flag sets, so the row conversions
// (colour, reduced, grey, palette) all see the reader's rows.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

char file_path[] = "/tmp/fuzz_gif_reader_XXXXXX.gif";
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

struct TFlagSet {
  int32_t flags;
  int32_t requested_width;
  int32_t requested_height;
};

constexpr TFlagSet kFlagSets[4] = {
    {kThumbnailLoadFlags, 0, 0},
    {LF_SCALE | LF_SCALE_BACK | LF_NO_QUANTIZE, 16, 16},
    {LF_GRAYSCALE, 0, 0},
    {LF_QUANTIZE | LF_COLORMAP | LF_SNAP_PALETTE, 0, 0},
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  file_fd = mkstemps(file_path, 4);
  if (file_fd < 0) std::abort();
  std::atexit([] { unlink(file_path); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteInput(data, size)) return 0;
  const TFlagSet& set = kFlagSets[size % 4];
  TMemBitmap bitmap;
  LoadImageWithReader(file_path, set.requested_width, set.requested_height, bitmap, set.flags,
                      nullptr, kReaderGif);
  return 0;
}
