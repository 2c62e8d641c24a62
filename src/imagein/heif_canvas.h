#pragma once
// The canvas sizes a HEIF file's derived images state in their own data:
// a grid ("grid") or an overlay ("iovl") says how large the picture it
// assembles is, and libheif allocates that picture, checking each side
// alone. These sizes are read here from the file's item boxes so that their
// area can be held to the pixel cap before anything is decoded.

#include <cstddef>
#include <cstdint>

enum class THeifCanvasCheck {
  kWithinCap,   // every derived image's canvas fits (or there is none)
  kOverCap,     // some canvas is larger than the cap allows
  kUnreadable,  // a derived image's description cannot be found or read
};

// Looks at every grid and overlay item of the file in `data`: a canvas over
// `bytes_per_pixel` bytes a pixel within the pixel cap is kOverCap.
THeifCanvasCheck CheckHeifCanvases(const uint8_t* data, size_t size, uint64_t bytes_per_pixel);
