#pragma once
// A PNG, WebP or TIFF file's rows handed to a row sink one at a time, top
// first, as JpegStreamRows hands a JPEG file's: nothing of the image is kept
// beyond what the reader itself holds (a PNG row, a TIFF band; a WebP still
// is decoded by libwebp at the smallest size the sink asks for). The file is
// read as a load of it reads it, with the same refusals (the pixel cap), and
// a file that breaks off after its first rows gives the rows before the break
// and black rows after them, as the load's bitmap would hold.

#include <cstdint>

#include "imagein/jpeg_row_stream.h"

// True for the reader kinds (loader.h) that stream: PNG, WebP, TIFF.
bool ReaderKindStreams(int32_t kind);

struct TReaderStreamOutcome {
  TJpegStreamResult result = TJpegStreamResult::kFailed;
  int32_t code = 0;          // the load's result code (0 when it was read)
  uint32_t rows_read = 0;    // rows the file gave; the rest were handed over black
};

// `alpha_background` as the load flag LF_ALPHA_OVER_WHITE sets it (0 or 255).
// The sink's plan sees the stored size (orientation 1); its start the size
// decoded, which only a WebP still makes smaller.
TReaderStreamOutcome ReaderStreamRows(const char* path, int32_t kind, uint8_t alpha_background,
                                      const TJpegRowSink& sink);
