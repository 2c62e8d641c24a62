// The TIFF reader: the first image of a TIFF file through libtiff's RGBA
// interface, which reads strips and tiles, every common compression, 1 to 16
// bits per sample, grey, palette, RGB, CMYK and YCbCr, with or without alpha.
// The file is read through the buffered, sealed-file-aware reader into
// memory and libtiff reads it from there; libtiff's messages go nowhere.

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imagein/format_codes.h"
#include "imagein/load_codes.h"
#include "imagein/whole_image_source.h"

namespace {

// The most libtiff may take in one allocation (a strip, a tile, a table).
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{1} << 28;

struct TTiffMemory {
  const uint8_t* data;
  size_t size;
  size_t position;
};

tmsize_t MemoryRead(thandle_t handle, void* buffer, tmsize_t count) {
  auto* memory = static_cast<TTiffMemory*>(handle);
  if (count <= 0 || memory->position >= memory->size) return 0;
  size_t take = static_cast<size_t>(count);
  if (take > memory->size - memory->position) take = memory->size - memory->position;
  std::memcpy(buffer, memory->data + memory->position, take);
  memory->position += take;
  return static_cast<tmsize_t>(take);
}

tmsize_t MemoryWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* memory = static_cast<TTiffMemory*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = memory->position;
  else if (whence == SEEK_END) base = memory->size;
  else if (whence != SEEK_SET) return static_cast<toff_t>(-1);
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  const uint64_t target = base + offset;
  // Past the end reads nothing; libtiff then reports the short read.
  memory->position = target > memory->size ? memory->size : static_cast<size_t>(target);
  return target;
}

int MemoryClose(thandle_t) { return 0; }

toff_t MemorySize(thandle_t handle) { return static_cast<TTiffMemory*>(handle)->size; }

int MemoryMap(thandle_t handle, void** base, toff_t* size) {
  auto* memory = static_cast<TTiffMemory*>(handle);
  *base = const_cast<uint8_t*>(memory->data);
  *size = memory->size;
  return 1;
}

void MemoryUnmap(thandle_t, void*, toff_t) {}

// Swallows libtiff's errors and warnings (1: handled, nothing else is called).
int QuietHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Opened "mapped" on the block itself: libtiff then reads strips and tiles in
// place (its unmapped path refuses some valid uncompressed tiles).
TIFF* OpenTiffInMemory(TTiffMemory* memory) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options, QuietHandler, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, QuietHandler, nullptr);
  TIFF* tiff = TIFFClientOpenExt("image", "r", memory, MemoryRead, MemoryWrite, MemorySeek, MemoryClose,
                                 MemorySize, MemoryMap, MemoryUnmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

bool TiffImageSize(TIFF* tiff, uint32_t* width, uint32_t* height) {
  return TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, width) == 1 &&
         TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, height) == 1;
}

// libtiff's RGBA rows carry premultiplied alpha: the colour already holds
// alpha's share, the background adds the rest.
void StoreRgbaRow(const uint32_t* raster, uint8_t* out, uint32_t width, uint8_t background) {
  for (uint32_t x = 0; x < width; ++x, out += 3) {
    uint32_t pixel;
    std::memcpy(&pixel, raster + x, sizeof pixel);
    const uint32_t rest = (255 - TIFFGetA(pixel)) * background / 255;
    const uint32_t red = TIFFGetR(pixel) + rest;
    const uint32_t green = TIFFGetG(pixel) + rest;
    const uint32_t blue = TIFFGetB(pixel) + rest;
    out[0] = static_cast<uint8_t>(red > 255 ? 255 : red);
    out[1] = static_cast<uint8_t>(green > 255 ? 255 : green);
    out[2] = static_cast<uint8_t>(blue > 255 ? 255 : blue);
  }
}

int32_t DecodeTiff(TReaderContext* context, TWholeImageSource* source, TIFF* tiff) {
  uint32_t width = 0;
  uint32_t height = 0;
  if (!TiffImageSize(tiff, &width, &height)) return kTiffNotTiff;
  if (width == 0 || height == 0) return kLoadEmptyImage;
  char message[1024];
  if (TIFFRGBAImageOK(tiff, message) != 1) return kTiffUnsupported;
  if (!PixelsWithinCap(width, height, 4)) return kLoadNoPixelMemory;
  auto* raster = static_cast<uint32_t*>(std::malloc(size_t{width} * height * 4));
  if (raster == nullptr) return kLoadNoPixelMemory;
  if (TIFFReadRGBAImageOriented(tiff, width, height, raster, ORIENTATION_TOPLEFT, 1) != 1) {
    std::free(raster);
    return kTiffDecodeFailed;
  }
  // In place: row y's RGB bytes start at 3wy, before its pixels at 4wy, and
  // each pixel is read whole before its bytes are written.
  auto* rgb = reinterpret_cast<uint8_t*>(raster);
  for (uint32_t y = 0; y < height; ++y)
    StoreRgbaRow(raster + size_t{width} * y, rgb + size_t{width} * 3 * y, width, context->alpha_background);
  return AdoptRgbImage(context, source, rgb, width, height) ? kLoadOk : context->common.err->msg_code;
}

void TiffStartInput(TReaderContext* context, TImageSource* base) {
  auto* source = static_cast<TWholeImageSource*>(base);
  if (!ReadWholeFile(context, source)) return;
  TTiffMemory memory{source->encoded, source->encoded_size, 0};
  TIFF* tiff = OpenTiffInMemory(&memory);
  const int32_t code = tiff == nullptr ? kTiffNotTiff : DecodeTiff(context, source, tiff);
  if (tiff != nullptr) TIFFClose(tiff);
  ReleaseEncoded(source);
  if (code != kLoadOk && context->common.err->num_warnings == 0) ReaderRaiseError(context, code);
}

}  // namespace

TImageSource* CreateTiffSource(TReaderContext* context) {
  return CreateWholeImageSource(context, TiffStartInput);
}

bool TiffReadSize(const char* path, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  uint8_t* data = nullptr;
  size_t size = 0;
  if (!ReadRegularFile(path, kMaxEncodedFileBytes, &data, &size)) return false;
  TTiffMemory memory{data, size, 0};
  TIFF* tiff = OpenTiffInMemory(&memory);
  uint32_t w = 0;
  uint32_t h = 0;
  const bool ok = tiff != nullptr && TiffImageSize(tiff, &w, &h) && w > 0 && h > 0 && w <= INT32_MAX &&
                  h <= INT32_MAX;
  if (tiff != nullptr) TIFFClose(tiff);
  std::free(data);
  if (!ok) return false;
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}
