// libFuzzer target: the loading front end's dispatch by extension and its
// size probes. The first byte picks the file's extension (every one the
// loader knows, in several spellings, and some it does not) and the load
// flags, the second the key of sealed files; the rest is the file. The
// probes must agree with each other, and a load hands back a bitmap of the
// size it says.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

TFuzzScratchFolder& Scratch() {
  static TFuzzScratchFolder folder("fuzz_load_dispatch_");
  return folder;
}

const char* const kExtensions[] = {".jpg", ".jpeg", ".jpe", ".jfif", ".JPG", ".png", ".PNG", ".webp", ".heic",
                                   ".heif", ".avif", ".tif", ".tiff", ".gif", ".GIF", ".bmp", ".tga", ".fts",
                                   ".fits", ".fit", ".txt", ""};
constexpr size_t kExtensionCount = sizeof kExtensions / sizeof kExtensions[0];
const int32_t kFlags[] = {kThumbnailLoadFlags, kThumbnailLoadFlags | LF_ALPHA_OVER_WHITE, LF_SCALE | LF_NO_QUANTIZE,
                          LF_SCALE | LF_GRAYSCALE, LF_QUANTIZE | LF_SCALE};

const char* const kKeys[] = {nullptr, "", "key", "quorn"};

// Files promising more pixels than this are only probed.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t choice = data[0];
  const char* key = kKeys[data[1] % 4];
  TFuzzScratchFolder& scratch = Scratch();
  scratch.Empty();
  const std::string name = std::string("image") + kExtensions[choice % kExtensionCount];
  if (!scratch.WriteFile(name.c_str(), data + 2, size - 2)) return 0;
  const std::string path = scratch.Join(name.c_str());

  int32_t width = 0, height = 0, orientation = 0;
  const bool probed = ProbeImageSizeAndOrientation(path.c_str(), &width, &height, &orientation);
  int32_t width_alone = 0, height_alone = 0;
  if (ProbeImageSize(path.c_str(), &width_alone, &height_alone) != probed || width != width_alone ||
      height != height_alone) {
    std::abort();
  }
  // A GIF's logical screen may say 0 (its frames are what is shown).
  if (probed && (width < 0 || height < 0)) std::abort();
  if (probed && int64_t{width} * height > kMaxFuzzPixels) return 0;
  int32_t w = 0, h = 0;
  GifReadScreenSize(path.c_str(), &w, &h);
  BmpReadSize(path.c_str(), &w, &h);
  TargaReadSize(path.c_str(), &w, &h);

  const int32_t flags = kFlags[(choice / kExtensionCount) % (sizeof kFlags / sizeof kFlags[0])];
  TMemBitmap bitmap;
  LoadImageByExtension(path.c_str(), 48, 48, bitmap, flags, key);
  if (bitmap.pixels != nullptr && (bitmap.width < 1 || bitmap.height < 1)) std::abort();
  if ((choice & 0x80) != 0) {
    TMemBitmap threaded;
    LoadImageToBitmap(path.c_str(), 48, 48, threaded, flags, key);
  }
  return 0;
}
