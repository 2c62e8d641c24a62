#pragma once
// libjpeg's decompression side: size probe and full decode into a TMemBitmap.

#include <cstdint>

#include "imagein/exif.h"
#include "raster/membitmap.h"

// 1 when the size was read, else 0; both outputs are set to 0 first.
int JpegReadSize(const char* path, int32_t* width, int32_t* height);
// The size as above and the EXIF orientation (1 when there is none), from
// one read of the file's head where that holds them (the file is read again
// only when it does not).
int JpegReadSizeAndOrientation(const char* path, int32_t* width, int32_t* height, int32_t* orientation);
// As JpegReadSize, and also the bytes of the whole-image coefficient buffers a
// decode of the file needs (0 for a single-scan file).
int JpegReadDecodeNeeds(const char* path, int32_t* width, int32_t* height,
                        uint64_t* coefficient_bytes);
// All of the above and the rest of the EXIF facts (date taken, camera,
// exposure) from the same one read of the file's head.
int JpegReadHeadFacts(const char* path, int32_t* width, int32_t* height, TExifFacts* facts,
                      uint64_t* coefficient_bytes);

int32_t JpegLoadBitmap(const char* path, int32_t requested_width, int32_t requested_height,
                       TMemBitmap& bitmap, int32_t load_flags, const char* key);
