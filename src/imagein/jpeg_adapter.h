#pragma once
// libjpeg's decompression side: size probe and full decode into a TMemBitmap.

#include <cstdint>

#include "raster/membitmap.h"

// 1 when the size was read, else 0; both outputs are set to 0 first.
int JpegReadSize(const char* path, int32_t* width, int32_t* height);

int32_t JpegLoadBitmap(const char* path, int32_t requested_width, int32_t requested_height,
                       TMemBitmap& bitmap, int32_t load_flags, const char* key);
