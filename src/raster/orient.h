#pragma once
// Turning a 24-bit bitmap upright by its EXIF orientation (1-8).

#include <cstdint>

#include "raster/membitmap.h"

// True for orientations that swap width and height (5-8).
inline bool OrientationSwapsSides(int32_t orientation) { return orientation >= 5 && orientation <= 8; }

// The stored pixel that upright pixel (x, y) shows, for a stored image of
// width x height.
void OrientedSource(int32_t orientation, int32_t x, int32_t y, int32_t width, int32_t height,
                    int32_t* source_x, int32_t* source_y);

// Makes `upright` the 24-bit bitmap `stored` shows under `orientation`, its
// full size turned with it. Orientation 1 (or out of range) copies. False,
// with `upright` cleared, when `stored` has no 24-bit pixels or memory runs out.
bool BitmapOrient(const TMemBitmap& stored, int32_t orientation, TMemBitmap& upright);
