#include "raster/membitmap.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Zeroes every field of the record without touching the memory it points at.
void ResetFields(TMemBitmap& bitmap) {
  std::memset(bitmap.name, 0, sizeof bitmap.name);
  bitmap.width = 0;
  bitmap.height = 0;
  bitmap.full_width = 0;
  bitmap.full_height = 0;
  bitmap.requested_width = 0;
  bitmap.requested_height = 0;
  bitmap.load_flags = 0;
  bitmap.scale_num = 0;
  bitmap.scale_denom = 0;
  bitmap.header = TBitmapInfoHeader{};
  std::memset(bitmap.colors, 0, sizeof bitmap.colors);
  bitmap.has_transparent = 0;
  bitmap.transparent_color = TRgbQuad{};
  bitmap.rows_written = 0;
  bitmap.was_sealed = 0;
  bitmap.pixel_handle = nullptr;
  bitmap.pixel_bytes = 0;
  bitmap.row_cursor = nullptr;
  bitmap.pixels = nullptr;
}

void CopyFields(TMemBitmap& to, const TMemBitmap& from) {
  std::memcpy(to.name, from.name, sizeof to.name);
  to.width = from.width;
  to.height = from.height;
  to.full_width = from.full_width;
  to.full_height = from.full_height;
  to.requested_width = from.requested_width;
  to.requested_height = from.requested_height;
  to.load_flags = from.load_flags;
  to.scale_num = from.scale_num;
  to.scale_denom = from.scale_denom;
  to.header = from.header;
  std::memcpy(to.colors, from.colors, sizeof to.colors);
  to.has_transparent = from.has_transparent;
  to.transparent_color = from.transparent_color;
  to.rows_written = from.rows_written;
  to.was_sealed = from.was_sealed;
  to.pixel_handle = from.pixel_handle;
  to.pixel_bytes = from.pixel_bytes;
  to.row_cursor = from.row_cursor;
  to.pixels = from.pixels;
}

}  // namespace

TMemBitmap::TMemBitmap(TMemBitmap&& other) noexcept {
  CopyFields(*this, other);
  ResetFields(other);
}

TMemBitmap& TMemBitmap::operator=(TMemBitmap&& other) noexcept {
  if (this == &other) return *this;
  BitmapFree(*this);
  CopyFields(*this, other);
  ResetFields(other);
  return *this;
}

TMemBitmap::~TMemBitmap() { BitmapFree(*this); }

void BitmapClear(TMemBitmap& bitmap) {
  BitmapFree(bitmap);
  ResetFields(bitmap);
}

uint32_t BitmapStride(int32_t width) {
  if (width <= 0) return 0;
  const uint64_t stride = (uint64_t{3} * static_cast<uint64_t>(width) + 3) & ~uint64_t{3};
  // Only widths far beyond any bitmap that can be allocated get here.
  if (stride > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max() & ~3u;
  return static_cast<uint32_t>(stride);
}

bool BitmapAllocatePixels(TMemBitmap& bitmap, size_t bytes) {
  if (bytes == 0 || bytes > kMaxPixelBytes) return false;
  auto* block = static_cast<uint8_t*>(std::calloc(bytes, 1));
  if (block == nullptr) return false;
  BitmapFree(bitmap);
  bitmap.pixel_handle = block;
  bitmap.pixels = block;
  bitmap.pixel_bytes = bytes;
  bitmap.row_cursor = nullptr;
  return true;
}

bool BitmapCreate(TMemBitmap& bitmap, int32_t width, int32_t height) {
  BitmapClear(bitmap);
  if (width < 1 || height < 1) return false;
  // height x (width + 3) x 3 bytes: never less than height x stride. Worked
  // out in 64 bits and held against the cap before anything is taken.
  const uint64_t bytes =
      static_cast<uint64_t>(height) * (static_cast<uint64_t>(width) + 3) * uint64_t{3};
  if (bytes > kMaxPixelBytes) return false;
  if (!BitmapAllocatePixels(bitmap, static_cast<size_t>(bytes))) return false;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.header.biSize = 40;
  bitmap.header.biWidth = width;
  bitmap.header.biHeight = height;
  bitmap.header.biPlanes = 1;
  bitmap.header.biBitCount = 24;
  return true;
}

void BitmapFree(TMemBitmap& bitmap) {
  std::free(bitmap.pixel_handle);
  bitmap.pixel_handle = nullptr;
  bitmap.pixels = nullptr;
  bitmap.pixel_bytes = 0;
  bitmap.row_cursor = nullptr;
}

void BitmapFill(TMemBitmap& bitmap, uint8_t value) {
  if (bitmap.pixels == nullptr || bitmap.height <= 0) return;
  // Every row with its padding; never more than the block holds (an 8-bit
  // bitmap has narrower rows than the 24-bit stride).
  uint64_t bytes = static_cast<uint64_t>(bitmap.height) * BitmapStride(bitmap.width);
  if (bytes > bitmap.pixel_bytes) bytes = bitmap.pixel_bytes;
  std::memset(bitmap.pixels, value, static_cast<size_t>(bytes));
  bitmap.rows_written = 1;
}

uint8_t* BitmapPixel(const TMemBitmap& bitmap, int32_t x, int32_t y) {
  const ptrdiff_t row = static_cast<ptrdiff_t>(bitmap.header.biHeight) - y - 1;
  return bitmap.pixels + row * static_cast<ptrdiff_t>(BitmapStride(bitmap.width)) +
         ptrdiff_t{3} * x;
}

void ShiftRect(TBltRect& rect, int32_t dx, int32_t dy) {
  // Wrapping adds: extreme rectangles must not be undefined behaviour.
  rect.left = static_cast<int32_t>(static_cast<uint32_t>(rect.left) + static_cast<uint32_t>(dx));
  rect.right = static_cast<int32_t>(static_cast<uint32_t>(rect.right) + static_cast<uint32_t>(dx));
  rect.top = static_cast<int32_t>(static_cast<uint32_t>(rect.top) + static_cast<uint32_t>(dy));
  rect.bottom =
      static_cast<int32_t>(static_cast<uint32_t>(rect.bottom) + static_cast<uint32_t>(dy));
}
