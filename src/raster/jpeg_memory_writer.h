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
