// The fit rectangle and the nearest-neighbour stretch.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "raster/membitmap.h"

namespace {

int32_t WrapToInt32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// Truncates toward zero; values outside int32 (and NaN) are pinned instead of
// being undefined.
int32_t TruncToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// True when the inclusive rectangle lies inside the bitmap's pixel memory.
bool RectInside(const TMemBitmap& bitmap, uint32_t left, uint32_t top, uint32_t right,
                uint32_t bottom) {
  if (bitmap.pixels == nullptr || bitmap.width <= 0 || bitmap.height <= 0) return false;
  if (bitmap.header.biHeight != bitmap.height) return false;
  const uint64_t needed = static_cast<uint64_t>(bitmap.height) * BitmapStride(bitmap.width);
  if (needed > bitmap.pixel_bytes) return false;
  return left <= right && top <= bottom && right < static_cast<uint32_t>(bitmap.width) &&
         bottom < static_cast<uint32_t>(bitmap.height);
}

}  // namespace

uint32_t StretchSampleOffset(uint32_t index, uint32_t extent, uint32_t count) {
  const uint32_t product = index * extent;
  return (product / count) & 0xFFFFu;
}

void BitmapStretch(TMemBitmap& dst, uint32_t dst_left, uint32_t dst_top, uint32_t dst_right,
                   uint32_t dst_bottom, const TMemBitmap& src, uint32_t src_left, uint32_t src_top,
                   uint32_t src_right, uint32_t src_bottom) {
  const uint32_t dst_w = dst_right - dst_left + 1;
  const uint32_t dst_h = dst_bottom - dst_top + 1;
  const uint32_t src_w = src_right - src_left + 1;
  const uint32_t src_h = src_bottom - src_top + 1;
  // Signed extents: an empty or inverted destination copies nothing.
  if (static_cast<int32_t>(dst_w) <= 0 || static_cast<int32_t>(dst_h) <= 0) return;
  // A rectangle reaching outside its bitmap would read or write past the
  // pixel memory: such a request copies nothing.
  if (!RectInside(dst, dst_left, dst_top, dst_right, dst_bottom)) return;
  if (!RectInside(src, src_left, src_top, src_right, src_bottom)) return;

  for (uint32_t i = 0; i < dst_h; ++i) {
    const uint32_t row_offset = StretchSampleOffset(i, src_h, dst_h);
    const uint8_t* src_row = BitmapPixel(src, static_cast<int32_t>(src_left),
                                         static_cast<int32_t>(src_top + row_offset));
    uint8_t* dst_row =
        BitmapPixel(dst, static_cast<int32_t>(dst_left), static_cast<int32_t>(dst_top + i));
    for (uint32_t j = 0; j < dst_w; ++j) {
      const uint32_t column_offset = StretchSampleOffset(j, src_w, dst_w);
      std::memcpy(dst_row + size_t{3} * j, src_row + size_t{3} * column_offset, 3);
    }
  }
}

void FitRect(TBltRect& box, const TBltRect& src, int fit, int centre, int limit, int32_t limit_w,
             int32_t limit_h, int32_t scale) {
  const int32_t sw = WrapToInt32(int64_t{src.right} - src.left);
  const int32_t sh = WrapToInt32(int64_t{src.bottom} - src.top);
  const int32_t bw = WrapToInt32(int64_t{box.right} - box.left);
  const int32_t bh = WrapToInt32(int64_t{box.bottom} - box.top);

  // The aspect ratio is held in single precision.
  const float ratio = sh == 0 ? 1.0f : static_cast<float>(sw) / static_cast<float>(sh);

  int32_t w = bw;
  int32_t h = bh;
  if (limit != 0) {
    const int64_t max_w = int64_t{limit_w} - 1;
    const int64_t max_h = int64_t{limit_h} - 1;
    if (max_w < w) w = static_cast<int32_t>(max_w < INT32_MIN ? INT32_MIN : max_w);
    if (max_h < h) h = static_cast<int32_t>(max_h < INT32_MIN ? INT32_MIN : max_h);
  }

  // The reciprocal of the single-precision ratio is taken in double; the
  // width-for-height product stays in single precision.
  const int32_t h_for_w =
      ratio == 0.0f ? 0 : TruncToInt32(static_cast<double>(w) * (1.0 / static_cast<double>(ratio)));
  const int32_t w_for_h = TruncToInt32(static_cast<float>(h) * ratio);

  if (fit == 0 || (w == sw && h == sh)) {
    box.right = WrapToInt32(int64_t{box.left} + int64_t{sw} * scale);
    box.bottom = WrapToInt32(int64_t{box.top} + int64_t{sh} * scale);
  } else if (h_for_w <= h) {
    box.right = WrapToInt32(int64_t{box.left} + w);
    box.bottom = WrapToInt32(int64_t{box.top} + h_for_w);
  } else {
    box.right = WrapToInt32(int64_t{box.left} + w_for_h);
    box.bottom = WrapToInt32(int64_t{box.top} + h);
  }

  if (centre != 0) {
    int64_t dx = (int64_t{bw} - (int64_t{box.right} - box.left)) / 2;
    int64_t dy = (int64_t{bh} - (int64_t{box.bottom} - box.top)) / 2;
    if (dx < 0) dx = 0;
    if (dy < 0) dy = 0;
    ShiftRect(box, static_cast<int32_t>(dx), static_cast<int32_t>(dy));
  }
}
