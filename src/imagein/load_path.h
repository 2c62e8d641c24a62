#pragma once
// The longest path a load accepts, and the start every load gives its bitmap.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "raster/membitmap.h"

// Paths of this many characters or more do not fit a load request or a
// bitmap's name (256 bytes with the terminating NUL); loads refuse them with
// kLoadPathTooLong rather than cut them.
inline constexpr size_t kMaxLoadPathLength = 256;

inline bool LoadPathTooLong(const char* path) {
  return path != nullptr && strnlen(path, kMaxLoadPathLength) >= kMaxLoadPathLength;
}

// The bitmap starts empty: pixel memory it still held from an earlier load is
// released, so rows this load does not decode are black, never stale.
inline void PrepareBitmap(TMemBitmap& bitmap, const char* path, int32_t requested_width,
                          int32_t requested_height, int32_t load_flags) {
  BitmapClear(bitmap);
  std::strncpy(bitmap.name, path, sizeof(bitmap.name) - 1);
  bitmap.requested_width = requested_width;
  bitmap.requested_height = requested_height;
  bitmap.load_flags = load_flags;
}
