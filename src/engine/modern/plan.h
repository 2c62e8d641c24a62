#pragma once
// The sizes of the modern style's images of one source image, worked out on
// its upright size: the 1x thumbnail fitted into the cell (or, cropped,
// filling it), the 2x one when the source has the pixels for it, and the web
// copy when the original will not do for the viewer.

#include <cstdint>

#include "engine/modern/images.h"
#include "raster/resample.h"

struct TModernOutput {
  bool wanted = false;
  int32_t width = 0;        // upright output size
  int32_t height = 0;
  TResampleRegion region;   // the upright source part it shows
};

struct TModernPlan {
  TModernOutput thumb_1x;
  TModernOutput thumb_2x;
  TModernOutput web;
};

// The plan for an upright image of width x height. `needs_web_copy` forces a
// web copy (an orientation other than 1, or a format browsers cannot show);
// one is made anyway when the long side exceeds kWebCopyLongSide. False when
// the sizes or the cell are unusable.
bool PlanModernImages(int32_t width, int32_t height, const TModernImageOptions& options, bool needs_web_copy,
                      TModernPlan* plan);

// The same output for the stored image when the orientation swaps the sides.
TModernOutput StoredOutput(const TModernOutput& upright, bool swap_sides);
