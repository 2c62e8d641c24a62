// libFuzzer target: the BMP reader through the reader pipeline. The input
// is written to a temporary file, which the loader reads like any image.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

const std::string& InputPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/fuzz_bmp_reader_" + std::to_string(getpid()) + ".bmp";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return 0;
  TMemBitmap bitmap;
  LoadImageWithReader(path.c_str(), 0, 0, bitmap, kThumbnailLoadFlags, nullptr, kReaderBmp);
  std::remove(path.c_str());
  return 0;
}
