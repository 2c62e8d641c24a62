#include "raster/orient.h"

#include <cstring>

void OrientedSource(int32_t orientation, int32_t x, int32_t y, int32_t width, int32_t height,
                    int32_t* source_x, int32_t* source_y) {
  switch (orientation) {
    case 2: *source_x = width - 1 - x; *source_y = y; return;
    case 3: *source_x = width - 1 - x; *source_y = height - 1 - y; return;
    case 4: *source_x = x; *source_y = height - 1 - y; return;
    case 5: *source_x = y; *source_y = x; return;
    case 6: *source_x = y; *source_y = height - 1 - x; return;
    case 7: *source_x = width - 1 - y; *source_y = height - 1 - x; return;
    case 8: *source_x = width - 1 - y; *source_y = x; return;
    default: *source_x = x; *source_y = y; return;
  }
}

bool BitmapOrient(const TMemBitmap& stored, int32_t orientation, TMemBitmap& upright) {
  BitmapClear(upright);
  if (stored.pixels == nullptr || stored.header.biBitCount != 24 || stored.width < 1 || stored.height < 1)
    return false;
  if (orientation < 1 || orientation > 8) orientation = 1;
  const bool swap = OrientationSwapsSides(orientation);
  const int32_t width = swap ? stored.height : stored.width;
  const int32_t height = swap ? stored.width : stored.height;
  if (!BitmapCreate(upright, width, height)) return false;
  std::memcpy(upright.name, stored.name, sizeof upright.name);
  upright.full_width = swap ? stored.full_height : stored.full_width;
  upright.full_height = swap ? stored.full_width : stored.full_height;
  upright.requested_width = stored.requested_width;
  upright.requested_height = stored.requested_height;
  upright.load_flags = stored.load_flags;
  upright.scale_num = stored.scale_num;
  upright.scale_denom = stored.scale_denom;
  upright.was_sealed = stored.was_sealed;
  upright.rows_written = stored.rows_written;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* out = BitmapPixel(upright, 0, y);
    for (int32_t x = 0; x < width; ++x, out += 3) {
      int32_t sx = 0;
      int32_t sy = 0;
      OrientedSource(orientation, x, y, stored.width, stored.height, &sx, &sy);
      std::memcpy(out, BitmapPixel(stored, sx, sy), 3);
    }
  }
  return true;
}
