#include "imagein/image_format.h"

#include "support/path_util.h"

namespace {

struct TExtensionFormat {
  const char* extension;
  TImageFormat format;
};

constexpr TExtensionFormat kExtensions[] = {
    {".jpg", TImageFormat::kJpeg},   {".jpeg", TImageFormat::kJpeg}, {".jpe", TImageFormat::kJpeg},
    {".jfif", TImageFormat::kJpeg},  {".gif", TImageFormat::kGif},   {".bmp", TImageFormat::kBmp},
    {".tga", TImageFormat::kTarga},  {".fts", TImageFormat::kFits},  {".fits", TImageFormat::kFits},
    {".png", TImageFormat::kPng},    {".webp", TImageFormat::kWebp}, {".heic", TImageFormat::kHeif},
    {".heif", TImageFormat::kHeif},  {".avif", TImageFormat::kAvif}, {".tif", TImageFormat::kTiff},
    {".tiff", TImageFormat::kTiff},
};

}  // namespace

TImageFormat ImageFormatOfPath(const char* path) {
  if (path == nullptr) return TImageFormat::kUnknown;
  for (const TExtensionFormat& entry : kExtensions) {
    if (HasExtension(path, entry.extension)) return entry.format;
  }
  return TImageFormat::kUnknown;
}

bool BrowserDisplaysFormat(TImageFormat format) {
  switch (format) {
    case TImageFormat::kJpeg:
    case TImageFormat::kGif:
    case TImageFormat::kBmp:
    case TImageFormat::kPng:
    case TImageFormat::kWebp:
    case TImageFormat::kAvif:
      return true;
    default:
      return false;
  }
}
