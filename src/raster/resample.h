#pragma once
// A separable Lanczos-3 reduction that takes the source rows one at a time,
// top row first, and writes the reduced image into a 24-bit bitmap as soon as
// the rows each of its rows needs have come. Each source row is added into
// the vertical sums of the few output rows it falls into; a finished sum is
// then filtered along the row. It never holds the source image, so several
// of them can be fed from one decode. The record is trivially destructible (it
// may live in a decoder's state across setjmp); ResamplerFree releases it.

#include <cstdint>

#include "raster/membitmap.h"

// The part of the source that the output shows, in source pixels.
struct TResampleRegion {
  double left = 0;
  double top = 0;
  double width = 0;
  double height = 0;
};

// One axis: per output position the first source index, the number of taps
// and their weights (kept in `weights` at position * stride).
struct TResampleAxis {
  int32_t out_count = 0;
  int32_t stride = 0;
  int32_t* first = nullptr;
  int32_t* taps = nullptr;
  float* weights = nullptr;
};

struct TResampler {
  int32_t source_width = 0;
  int32_t source_height = 0;
  TResampleAxis x;
  TResampleAxis y;
  float* ring = nullptr;        // ring_rows accumulators of open output rows, source-wide RGB floats
  int32_t ring_rows = 0;
  float* scratch = nullptr;     // the current source row as floats
  int32_t next_row = 0;         // next source row expected
  int32_t next_out = 0;         // next output row to write
  TMemBitmap* out = nullptr;
};

// Sets up the reduction of a source_width x source_height image's `region`
// into `out` (already created at the output size, 24-bit). False when the
// sizes make no sense or memory runs out (nothing is held then).
bool ResamplerInit(TResampler* resampler, int32_t source_width, int32_t source_height,
                   const TResampleRegion& region, TMemBitmap* out);
// Source row `y` as red-green-blue bytes; rows come in order, each once.
void ResamplerPushRow(TResampler* resampler, int32_t y, const uint8_t* rgb);
// True when every output row is written.
bool ResamplerFinished(const TResampler* resampler);
void ResamplerFree(TResampler* resampler);

// The whole reduction of a 24-bit bitmap's `region` into `out`, created here
// at out_width x out_height. False when memory runs out.
bool BitmapResample(const TMemBitmap& source, const TResampleRegion& region, int32_t out_width,
                    int32_t out_height, TMemBitmap& out);

// `out` becomes `source` reduced by the whole `factor` in both directions,
// each pixel the average of its factor x factor block (the blocks at the
// right and bottom edges may be smaller): a cheap first step before a large
// reduction. False when memory runs out.
bool BitmapBoxShrink(const TMemBitmap& source, int32_t factor, TMemBitmap& out);

// The same whole-factor reduction taking the source rows one at a time, top
// first: each finished output row (3 bytes per pixel, in the order they came)
// goes to `emit` with its index. Holds one row of sums. The record is
// trivially destructible; RowShrinkerFree releases it.
struct TRowShrinker {
  int32_t factor = 1;
  int32_t source_width = 0;
  int32_t source_height = 0;
  int32_t out_width = 0;
  uint32_t* sums = nullptr;     // out_width x (3 sums, count)
  uint8_t* out_row = nullptr;
  int32_t next_row = 0;         // next source row expected
  void* context = nullptr;
  void (*emit)(void* context, int32_t y, const uint8_t* row) = nullptr;
};

// False when the sizes make no sense or memory runs out (nothing is held then).
bool RowShrinkerInit(TRowShrinker* shrinker, int32_t source_width, int32_t source_height, int32_t factor,
                     void (*emit)(void* context, int32_t y, const uint8_t* row), void* context);
// The next source row; rows past the source height are ignored.
void RowShrinkerPush(TRowShrinker* shrinker, const uint8_t* row);
void RowShrinkerFree(TRowShrinker* shrinker);
