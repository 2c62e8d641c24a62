#pragma once
// Writes a 24-bit memory bitmap as a baseline JFIF JPEG file.

#include "raster/membitmap.h"

// Encodes `bitmap` (24-bit, at least 1 x 1) with the given quality (libjpeg
// clamps it into 1..100) and puts the file at `path`, replacing a file of that
// name. The data goes to a temporary file "<path>.tmp..." in the same folder
// that is renamed into place only when complete, so a failed write leaves
// neither a partial file under `path` nor the temporary file. Returns true
// when the file is in place.
bool JpegWriteBitmap(const TMemBitmap& bitmap, const char* path, int quality);
