#pragma once
// The whole thumbnail path of one image file, as the runs take it: bytes ->
// size probes -> decode -> turn upright -> colour -> reduce -> encode, for
// the classic cell (cell by cell, and for JPEG files the row-skipping cell
// decode of the parallel producer, which must give the very same cell) and
// for the modern images (made, then reused from the manifest). The last byte
// of an input picks the cell settings; the rest is the file.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/classic/image_cell.h"
#include "engine/modern/images.h"
#include "fuzz_support.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/jpeg_thumb_decode.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace thumbnail_path {

// Files promising more pixels than this are only probed: a decode of that
// size takes seconds and proves nothing the smaller ones do not.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 22;

inline TFuzzScratchFolder& Scratch() {
  static TFuzzScratchFolder folder("fuzz_thumbnail_");
  return folder;
}

inline bool SamePixels(const TMemBitmap& a, const TMemBitmap& b) {
  if (a.width != b.width || a.height != b.height || (a.pixels == nullptr) != (b.pixels == nullptr)) return false;
  if (a.pixels == nullptr) return true;
  for (int32_t y = 0; y < a.height; ++y) {
    if (std::memcmp(BitmapPixel(a, 0, y), BitmapPixel(b, 0, y), static_cast<size_t>(a.width) * 3) != 0) return false;
  }
  return true;
}

inline bool IsFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The row-skipping cell decode against the full decode, fit and stretch.
inline void CheckJpegCell(const char* path, const TCellOptions& options) {
  TMemBitmap skipping;
  TMemBitmap reading;
  const TJpegCellResult a = JpegThumbnailCell(path, options.cellwidth, options.cellheight,
                                              static_cast<uint8_t>(options.thumbwhite), skipping,
                                              TJpegCellRowMode::kSkipWhereExact);
  const TJpegCellResult b = JpegThumbnailCell(path, options.cellwidth, options.cellheight,
                                              static_cast<uint8_t>(options.thumbwhite), reading,
                                              TJpegCellRowMode::kReadEveryRow);
  if (a == TJpegCellResult::kOutOfMemory || b == TJpegCellResult::kOutOfMemory) return;
  if (a != b || !SamePixels(skipping, reading)) std::abort();
  TMemBitmap image;
  JpegLoadBitmap(path, options.cellwidth, options.cellheight, image, ThumbnailLoadFlags(options), nullptr);
  const bool full = image.pixels != nullptr && image.width > 1 && image.height > 1 && image.header.biBitCount == 24;
  if (full != (a == TJpegCellResult::kMade)) std::abort();
  if (!full) return;
  TMemBitmap cell;
  if (!BitmapCreate(cell, options.cellwidth, options.cellheight)) return;
  FitImageIntoCell(cell, image, options);
  if (!SamePixels(cell, skipping)) std::abort();
}

inline void CheckModern(const TFuzzScratchFolder& scratch, const char* name, uint8_t settings) {
  TModernImageOptions options;
  options.cellwidth = 24 + (settings & 3) * 40;
  options.cellheight = 24 + ((settings >> 2) & 3) * 30;
  options.crop = (settings >> 7) & 1;
  TModernImageResult made;
  if (!ProduceModernImages(scratch.Path(), name, options, &made)) return;
  for (const std::string* relative : {&made.thumb_1x, &made.thumb_2x, &made.web_copy}) {
    if (!relative->empty() && !IsFile(scratch.Join(relative->c_str()))) std::abort();
  }
  if (made.thumb_width < 1 || made.thumb_height < 1) std::abort();
  // The second time the manifest says the same file gave these images.
  TModernImageResult reused;
  if (!ProduceModernImages(scratch.Path(), name, options, &reused)) std::abort();
  if (reused.thumb_1x != made.thumb_1x || reused.thumb_2x != made.thumb_2x || reused.web_copy != made.web_copy ||
      reused.thumb_width != made.thumb_width || reused.thumb_height != made.thumb_height ||
      reused.facts.width != made.facts.width || reused.facts.height != made.facts.height) {
    std::abort();
  }
}

// `extension` names the format (".jpg", ".png", ...); `is_jpeg` adds the cell decode check.
inline void Run(const uint8_t* data, size_t size, const char* extension, bool is_jpeg) {
  if (size < 2) return;
  const uint8_t settings = data[size - 1];
  TFuzzScratchFolder& scratch = Scratch();
  scratch.Empty();
  const std::string name = std::string("image") + extension;
  if (!scratch.WriteFile(name.c_str(), data, size - 1)) return;
  const std::string path = scratch.Join(name.c_str());

  int32_t width = 0, height = 0, orientation = 0;
  const bool probed = ProbeImageSizeAndOrientation(path.c_str(), &width, &height, &orientation);
  int32_t width_alone = 0, height_alone = 0;
  const bool probed_alone = ProbeImageSize(path.c_str(), &width_alone, &height_alone);
  if (probed != probed_alone || width != width_alone || height != height_alone) std::abort();
  if (probed && (orientation < 1 || orientation > 8)) std::abort();
  if (probed && int64_t{width} * height > kMaxFuzzPixels) return;

  TCellOptions options;
  options.cellwidth = 16 + (settings & 7) * 16;
  options.cellheight = 16 + ((settings >> 3) & 3) * 24;
  options.thumbwhite = (settings & 0x20) != 0 ? 255 : 0;
  std::string out;
  TThumbnailFallback fallback;
  int64_t written = 0;
  if (WriteThumbnail(out, scratch.Path(), name.c_str(), 0, options, &fallback, &written) == 1) {
    if (written <= 0 || out.compare(0, 5, "<img ") != 0) std::abort();
  }
  if (is_jpeg && (!probed || orientation == 1)) CheckJpegCell(path.c_str(), options);

  CheckModern(scratch, name.c_str(), settings);
}

}  // namespace thumbnail_path
