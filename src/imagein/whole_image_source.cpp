#include "imagein/whole_image_source.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imagein/load_codes.h"
#include "raster/membitmap.h"
#include "support/path_util.h"

uint32_t WholeImageGetRows(TReaderContext* context, TImageSource* base) {
  auto* source = static_cast<TWholeImageSource*>(base);
  if (source->pixels == nullptr || source->next_row >= context->image_height) return 0;
  const size_t row_bytes = size_t{context->image_width} * 3;
  std::memcpy(source->row_buffer, source->pixels + row_bytes * source->next_row, row_bytes);
  ++source->next_row;
  return 1;
}

namespace {

void WholeImageFinish(TReaderContext*, TImageSource*) {}

void WholeImageDestroy(TImageSource* base) {
  auto* source = static_cast<TWholeImageSource*>(base);
  std::free(source->encoded);
  std::free(source->pixels);
  std::free(source->row_buffer);
  SourceRelease(source);
  delete source;
}

}  // namespace

TWholeImageSource* CreateWholeImageSource(TReaderContext*, TSourceStep start_input) {
  auto* source = new (std::nothrow) TWholeImageSource;
  if (source == nullptr) return nullptr;
  if (!SourceInit(source)) {
    delete source;
    return nullptr;
  }
  source->StartInput = start_input;
  source->GetRows = WholeImageGetRows;
  source->FinishInput = WholeImageFinish;
  source->Destroy = WholeImageDestroy;
  return source;
}

bool ReadWholeFile(TReaderContext* context, TWholeImageSource* source) {
  return SourceReadToEnd(context, source, kMaxEncodedFileBytes, &source->encoded, &source->encoded_size);
}

void ReleaseEncoded(TWholeImageSource* source) {
  std::free(source->encoded);
  source->encoded = nullptr;
  source->encoded_size = 0;
}

bool PixelsWithinCap(uint64_t width, uint64_t height, uint64_t bytes_per_pixel) {
  if (width == 0 || height == 0) return true;
  // Each factor is below 2^32 and the cap is 2^30: no product below overflows.
  if (width > kMaxPixelBytes || height > kMaxPixelBytes) return false;
  return width * height <= kMaxPixelBytes / bytes_per_pixel;
}

bool RowsWithinCap(uint64_t width, uint64_t height, uint64_t reader_bytes_per_pixel) {
  if (!PixelsWithinCap(width, height, 3)) return false;
  // Both below 2^30 now; the bitmap's rows are padded to 4 bytes.
  const uint64_t bitmap = ((width * 3 + 3) & ~uint64_t{3}) * height;
  if (bitmap > kMaxPixelBytes) return false;
  return reader_bytes_per_pixel == 0 ||
         width * height <= (kMaxPixelBytes - bitmap) / reader_bytes_per_pixel;
}

bool WholeImageWithinCap(const TWholeImageSource* source, uint64_t width, uint64_t height,
                         uint64_t decode_bytes_per_pixel) {
  const uint64_t encoded = source->encoded_size;
  if (encoded > kMaxPixelBytes || !PixelsWithinCap(width, height, 1)) return false;
  if (decode_bytes_per_pixel != 0 && width * height > (kMaxPixelBytes - encoded) / decode_bytes_per_pixel)
    return false;
  return RowsWithinCap(width, height, 3);
}

bool AllocateWholeImage(TReaderContext* context, TWholeImageSource* source, uint32_t width,
                        uint32_t height) {
  if (width == 0 || height == 0) {
    ReaderRaiseError(context, kLoadEmptyImage);
    return false;
  }
  if (!RowsWithinCap(width, height, 3)) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return false;
  }
  const size_t row_bytes = size_t{width} * 3;
  source->pixels = static_cast<uint8_t*>(std::calloc(height, row_bytes));
  source->row_buffer = static_cast<uint8_t*>(std::malloc(row_bytes));
  if (source->pixels == nullptr || source->row_buffer == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return false;
  }
  context->image_width = width;
  context->image_height = height;
  context->input_components = 3;
  return true;
}

bool AdoptRgbaImage(TReaderContext* context, TWholeImageSource* source, uint8_t* rgba, uint32_t width,
                    uint32_t height) {
  // Row y's RGB bytes start at 3wy, before its RGBA bytes at 4wy, and each
  // pixel is read whole before its three bytes are written: in place is safe.
  for (uint32_t y = 0; y < height; ++y) {
    CompositeRgbaRow(rgba + size_t{width} * 4 * y, rgba + size_t{width} * 3 * y, width, context->alpha_background);
  }
  return AdoptRgbImage(context, source, rgba, width, height);
}

bool AdoptRgbImage(TReaderContext* context, TWholeImageSource* source, uint8_t* block, uint32_t width,
                   uint32_t height) {
  const size_t row_bytes = size_t{width} * 3;
  auto* shrunk = static_cast<uint8_t*>(std::realloc(block, row_bytes * height));
  source->pixels = shrunk != nullptr ? shrunk : block;
  source->row_buffer = static_cast<uint8_t*>(std::malloc(row_bytes));
  if (source->row_buffer == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return false;
  }
  context->image_width = width;
  context->image_height = height;
  context->input_components = 3;
  return true;
}

void CompositeRgbaRow(const uint8_t* rgba, uint8_t* rgb, uint32_t width, uint8_t background) {
  for (uint32_t i = 0; i < width; ++i, rgba += 4, rgb += 3) {
    // The whole pixel is read before any byte is written (rgb may overlap rgba).
    const uint32_t red = rgba[0], green = rgba[1], blue = rgba[2], alpha = rgba[3];
    const uint32_t rest = (255 - alpha) * background;
    // Rounded (value * alpha + background * (255 - alpha)) / 255.
    rgb[0] = static_cast<uint8_t>((red * alpha + rest + 127) / 255);
    rgb[1] = static_cast<uint8_t>((green * alpha + rest + 127) / 255);
    rgb[2] = static_cast<uint8_t>((blue * alpha + rest + 127) / 255);
  }
}

bool ReadRegularFile(const char* path, size_t cap, uint8_t** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  std::FILE* file = OpenRegularFileForReading(path);
  if (file == nullptr) return false;
  struct stat info;
  if (::fstat(::fileno(file), &info) != 0 || info.st_size <= 0 ||
      static_cast<uint64_t>(info.st_size) > cap) {
    std::fclose(file);
    return false;
  }
  const auto length = static_cast<size_t>(info.st_size);
  auto* block = static_cast<uint8_t*>(std::malloc(length));
  const bool ok = block != nullptr && std::fread(block, 1, length, file) == length;
  std::fclose(file);
  if (!ok) {
    std::free(block);
    return false;
  }
  *data = block;
  *size = length;
  return true;
}
