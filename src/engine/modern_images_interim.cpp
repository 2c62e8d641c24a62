// Interim images of the modern style, until the maintained implementation
// of modern_images.h replaces this file: decoded with the loading front end,
// fitted and stretched (nearest neighbour), written with the JPEG writer,
// one image after the other. EXIF facts are not read here.

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/generated_names.h"
#include "engine/modern_images.h"
#include "engine/modern_page_parts.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/jpeg_writer.h"
#include "raster/membitmap.h"
#include "support/path_util.h"

namespace {

constexpr int kModernQuality = 85;

// Fits the image into box_width x box_height (never enlarged), writes it to
// quarto_tn/<stem><suffix> and gives its relative path and size.
bool WriteFitted(const TMemBitmap& image, const char* folder, const char* stem, const char* suffix,
                 int32_t box_width, int32_t box_height, std::string* relative, int32_t* width,
                 int32_t* height) {
  TBltRect box{0, 0, box_width - 1, box_height - 1};
  const TBltRect src{0, 0, image.width - 1, image.height - 1};
  FitRect(box, src, 1, 0, 1, image.width, image.height, 1);
  const int32_t w = box.right - box.left + 1;
  const int32_t h = box.bottom - box.top + 1;
  if (w < 1 || h < 1) return false;
  TMemBitmap out;
  if (!BitmapCreate(out, w, h)) return false;
  BitmapStretch(out, 0, 0, static_cast<uint32_t>(w - 1), static_cast<uint32_t>(h - 1), image, 0, 0,
                static_cast<uint32_t>(image.width - 1), static_cast<uint32_t>(image.height - 1));
  char name[kPathBufferSize];
  std::snprintf(name, sizeof name, "%s/%s%s", kThumbnailFolder, stem, suffix);
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, name)) return false;
  MakePathDirs(path, 1);
  const bool written = JpegWriteBitmap(out, path, kModernQuality);
  BitmapFree(out);
  if (!written) return false;
  *relative = name;
  *width = w;
  *height = h;
  return true;
}

}  // namespace

bool ProduceModernImages(const char* folder, const char* name, const TModernImageOptions& options,
                         TModernImageResult* result) {
  *result = TModernImageResult{};
  if (options.cellwidth < 1 || options.cellheight < 1) return false;
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, name)) return false;
  TMemBitmap image;
  LoadImageToBitmap(path, 0, 0, image, kThumbnailLoadFlags, nullptr);
  if (image.width <= 1 || image.height <= 1 || image.pixels == nullptr || image.header.biBitCount != 24) {
    int32_t w = 0;
    int32_t h = 0;
    if (ProbeImageSize(path, &w, &h) && w > 0 && h > 0) {
      result->facts.width = w;
      result->facts.height = h;
    }
    return false;
  }
  result->facts.width = image.width;
  result->facts.height = image.height;
  char stem[32];
  NamedImageStem(name, stem, sizeof stem);
  if (!WriteFitted(image, folder, stem, "-1x.jpg", options.cellwidth, options.cellheight, &result->thumb_1x,
                   &result->thumb_width, &result->thumb_height)) {
    return false;
  }
  if (image.width >= 2 * result->thumb_width && image.height >= 2 * result->thumb_height) {
    int32_t w = 0;
    int32_t h = 0;
    if (!WriteFitted(image, folder, stem, "-2x.jpg", 2 * options.cellwidth, 2 * options.cellheight,
                     &result->thumb_2x, &w, &h)) {
      result->thumb_2x.clear();
    }
  }
  const int32_t long_side = image.width > image.height ? image.width : image.height;
  if (long_side > kWebCopyLongSide || !IsBrowserImageName(name)) {
    if (!WriteFitted(image, folder, stem, "-web.jpg", kWebCopyLongSide, kWebCopyLongSide, &result->web_copy,
                     &result->web_width, &result->web_height)) {
      result->web_copy.clear();
    }
  }
  return true;
}

struct TModernFolderImages::TState {
  std::string folder;
  const char* const* names;
  int32_t count;
  TModernImageOptions options;
};

TModernFolderImages::TModernFolderImages(const char* folder, const char* const* names, int32_t count,
                                         const TModernImageOptions& options)
    : state_(new (std::nothrow) TState{folder, names, count, options}) {}

TModernFolderImages::~TModernFolderImages() { delete state_; }

bool TModernFolderImages::Take(int32_t position, TModernImageResult* result) {
  *result = TModernImageResult{};
  if (state_ == nullptr || position < 0 || position >= state_->count) return false;
  return ProduceModernImages(state_->folder.c_str(), state_->names[position], state_->options, result);
}
