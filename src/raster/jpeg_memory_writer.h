#pragma once
// Encodes a 24-bit memory bitmap into a JPEG file image in memory: the same
// bytes that JpegWriteBitmap puts into a file, for callers that encode on one
// thread and write the file on another.

#include <cstddef>
#include <cstdint>

#include "raster/membitmap.h"

// A coded file held in memory (malloc'ed); empty when data is null.
struct TEncodedJpeg {
  uint8_t* data = nullptr;
  size_t size = 0;

  TEncodedJpeg() = default;
  TEncodedJpeg(const TEncodedJpeg&) = delete;
  TEncodedJpeg& operator=(const TEncodedJpeg&) = delete;
  TEncodedJpeg(TEncodedJpeg&& other) noexcept;
  TEncodedJpeg& operator=(TEncodedJpeg&& other) noexcept;
  ~TEncodedJpeg();
};

void EncodedJpegFree(TEncodedJpeg& jpeg);

// Encodes `bitmap` (24-bit, at least 1 x 1) with the parameters of
// JpegWriteBitmap. False, with `out` empty, when the bitmap cannot be encoded
// or memory runs out.
bool JpegEncodeBitmap(const TMemBitmap& bitmap, int quality, TEncodedJpeg& out);

// Puts `size` bytes at `path` the way JpegWriteBitmap puts its file there:
// through a temporary file "<path>.tmp..." in the same folder, renamed into
// place only when complete. True when the file is in place.
bool WriteFileReplacing(const char* path, const uint8_t* data, size_t size);

// True when `path` names a regular file (not a link) that holds exactly the
// `size` bytes at `data`: the size is compared first, then the content.
bool FileHoldsBytes(const char* path, const uint8_t* data, size_t size);

// WriteFileReplacing, but a file that already holds exactly these bytes is
// left untouched (it keeps its date). True when the file at `path` holds them.
bool WriteFileIfChanged(const char* path, const uint8_t* data, size_t size);
