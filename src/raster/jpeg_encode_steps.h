#pragma once
// The pieces of thumbnail encoding that the file writer and the in-memory
// writer share, so that both produce the same bytes. Neither holds an object
// with a destructor, so both may run between setjmp and libjpeg's calls.

#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "raster/membitmap.h"

// RGB input, libjpeg's defaults, the caller's quality as baseline, the size
// of the bitmap - in that order.
inline void SetThumbnailParameters(jpeg_compress_struct* cinfo, const TMemBitmap& bitmap, int quality) {
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  cinfo->in_color_space = JCS_RGB;
  cinfo->input_components = 3;
  cinfo->data_precision = 8;
  cinfo->image_width = static_cast<JDIMENSION>(bitmap.width);
  cinfo->image_height = static_cast<JDIMENSION>(bitmap.height);
}

// Image row y (0 the top row) as red-green-blue; the row padding is never copied.
inline void CopyRowAsRgb(const TMemBitmap& bitmap, int32_t y, JSAMPLE* out) {
  const uint8_t* in = BitmapPixel(bitmap, 0, y);
  const auto width = static_cast<uint32_t>(bitmap.width);
  for (uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
}
