#pragma once
// What a load will hold at its peak, read from the file's header alone: the
// pixel memory of the full-size 24-bit bitmap and a decoder's own whole-image
// buffers beside it (a progressive or multi-scan JPEG file's coefficients).
// Callers that run loads side by side reserve this much before they start.

#include <cstdint>

struct TLoadPeak {
  bool known = false;           // the header was read; otherwise nothing is known
  bool jpeg = false;            // the JPEG adapter decodes the file
  uint32_t width = 0;           // full size
  uint32_t height = 0;
  uint64_t decoder_bytes = 0;   // the decoder's whole-image buffers beside the pixels
  uint64_t pixel_bytes = 0;     // the full-size bitmap: stride x height
};

// Chooses the decoder by extension, as the loading front end does, and reads
// that file's header. `known` stays false for FITS files, sealed files and
// anything whose header cannot be read.
TLoadPeak ReadLoadPeak(const char* path);

// True when the JPEG adapter refuses the full-size load for memory
// (kLoadNoPixelMemory) whatever else is running: its pixels and coefficient
// buffers together pass kMaxPixelBytes. False for every other decoder, whose
// own checks stand.
bool LoadPeakRefusedByJpeg(const TLoadPeak& peak);
