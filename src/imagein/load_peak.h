#pragma once
// What a load will hold at its peak, read from the file's header alone: the
// pixel memory of the full-size 24-bit bitmap and a decoder's own whole-image
// buffers beside it (a progressive or multi-scan JPEG file's coefficients).
// Callers that run loads side by side reserve this much before they start.

#include <cstdint>

struct TLoadPeak {
  bool known = false;           // the header was read; otherwise nothing is known
  bool jpeg = false;            // the JPEG adapter decodes the file
  bool streams = false;         // a reader that can hand its rows on as read (reader_row_stream.h)
  uint32_t width = 0;           // full size
  uint32_t height = 0;
  uint64_t decoder_bytes = 0;   // the decoder's whole-image buffers beside the pixels
  uint64_t pixel_bytes = 0;     // the full-size bitmap: stride x height
};

// Chooses the decoder by extension, as the loading front end does, and reads
// that file's header. `known` stays false for FITS files, sealed files and
// anything whose header cannot be read.
TLoadPeak ReadLoadPeak(const char* path);

// The peak of a decode of that full size with those decoder buffers
// (`known` stays false for a size of zero).
TLoadPeak LoadPeakOf(bool jpeg, int32_t width, int32_t height, uint64_t decoder_bytes);

// The bytes a decode of `peak` holds at its worst: with `full_load` the
// full-size bitmap beside the decoder's buffers, else (a JPEG or streamed
// decode, which keeps no bitmap of the image) one row beside them.
// Unknown sizes give kMaxPixelBytes, so that such a decode runs alone.
uint64_t LoadPeakBytes(const TLoadPeak& peak, bool full_load);

// True when the JPEG adapter refuses the full-size load for memory
// (kLoadNoPixelMemory) whatever else is running: its pixels and coefficient
// buffers together pass kMaxPixelBytes. False for every other decoder, whose
// own checks stand.
bool LoadPeakRefusedByJpeg(const TLoadPeak& peak);
