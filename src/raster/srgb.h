#pragma once
// Conversion of a 24-bit bitmap from the colour space its ICC profile
// describes into sRGB, through lcms2.

#include <cstddef>
#include <cstdint>

#include "raster/membitmap.h"

// Converts every pixel of `bitmap` from the RGB colour space of the ICC
// profile `icc` (`size` bytes) into sRGB, perceptual intent. False, with the
// pixels unchanged, when there is no profile, it cannot be read or is not an
// RGB profile: the pixels are then taken to be sRGB already.
bool BitmapConvertToSrgb(TMemBitmap& bitmap, const uint8_t* icc, size_t size);
