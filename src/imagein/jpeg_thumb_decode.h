#pragma once
// A thumbnail cell straight from a JPEG file: decodes only the rows that the
// nearest-neighbour stretch into the cell samples and stores the sampled
// pixels directly into the cell bitmap, without a full-size bitmap. The cell
// is byte for byte the one that a full decode (JpegLoadBitmap with the
// thumbnail load flags), FitRect and BitmapStretch give, warnings, errors and
// truncated files included.

#include <cstdint>

#include "raster/membitmap.h"

// How rows that the stretch never samples are passed over.
enum class TJpegCellRowMode {
  // Skipped without inverse DCT and colour conversion where this file's coding
  // is known to give the same pixels that way; read otherwise.
  kSkipWhereExact,
  // Every row up to the last sampled one is decoded and converted.
  kReadEveryRow,
};

// What JpegThumbnailCell did, for tests and benchmarks.
struct TJpegCellReport {
  bool rows_skipped = false;  // the cell came from a decode that skipped rows
  bool redone = false;        // a skipping decode met a warning or error and was redone
};

enum class TJpegCellResult {
  kMade,          // `cell` is the thumbnail
  kNoThumbnail,   // the full decode gives no thumbnail for this file either
  kOutOfMemory,   // memory for the cell or the decode could not be had
};

// Makes `cell`: a cell_width x cell_height bitmap filled with `fill`, with the
// image fitted, centred and stretched into it. kNoThumbnail (cell without
// pixels) exactly where the full decode gives no thumbnail: the file cannot be
// opened or is not a regular file, the path is too long, the header fails,
// four components, pixel memory over the cap, an image one pixel wide or high,
// or a cell over the pixel memory cap.
TJpegCellResult JpegThumbnailCell(const char* path, int32_t cell_width, int32_t cell_height,
                                  uint8_t fill, TMemBitmap& cell, TJpegCellRowMode mode,
                                  TJpegCellReport* report = nullptr);
