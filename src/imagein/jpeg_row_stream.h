#pragma once
// A JPEG file decoded row by row at the smallest DCT scale (1/8, 1/4, 1/2,
// 1/1) that still gives the size the caller asks for after seeing the
// header, the rows handed to the caller as red-green-blue bytes without a
// bitmap of the image. The
// EXIF facts and the ICC profile (APP2 "ICC_PROFILE" segments) come with the
// header. Grey files come as RGB, CMYK files converted plainly to RGB.

#include <cstddef>
#include <cstdint>

#include "imagein/exif.h"

// What the header tells the caller.
struct TJpegStreamHeader {
  int32_t width = 0;   // stored size at scale 1/1
  int32_t height = 0;
  int32_t orientation = 1;
};

struct TJpegRowSink {
  void* context = nullptr;
  // Sets the smallest decoded size wanted (the stored orientation's sides);
  // false stops the decode.
  bool (*plan)(void* context, const TJpegStreamHeader& header, int32_t* min_width, int32_t* min_height) = nullptr;
  // The decoded size; false stops the decode.
  bool (*start)(void* context, int32_t width, int32_t height) = nullptr;
  // Row `y` (0 the top row) of the decoded image, 3 bytes per pixel.
  void (*row)(void* context, int32_t y, const uint8_t* rgb) = nullptr;
  // Optional, for the reader row stream (reader_row_stream.h): the first row
  // from `y` on that the sink takes (the height when none); the rows before
  // it are passed over, and `row` sees only the rows asked for. Null: every row.
  int32_t (*next_wanted)(void* context, int32_t y) = nullptr;
};

enum class TJpegStreamResult {
  kDone,         // every row was handed over
  kStopped,      // the sink stopped the decode
  kFailed,       // not a readable JPEG file, a fatal error, too many warnings or scans
  kOutOfMemory,  // the decode would pass the pixel memory cap, or memory ran out
};

// The file's facts and ICC profile, filled as far as the header was read.
struct TJpegStreamFacts {
  TExifFacts exif;
  uint8_t* icc = nullptr;  // malloc'ed; the caller frees it
  size_t icc_size = 0;
};

TJpegStreamResult JpegStreamRows(const char* path, const TJpegRowSink& sink, TJpegStreamFacts* facts);
