#pragma once
// The caps every JPEG decode honours: the memory of libjpeg's whole-image
// coefficient buffers counts against the same cap as the pixel memory, libjpeg
// may allocate no more than what is left of that cap, and a decode stops
// after kMaxJpegScans scans.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

// A file with more scans than this is refused with kLoadTooManyScans: a
// progressive file needs ten or so, and every scan is another pass over the
// whole image's coefficients.
inline constexpr int kMaxJpegScans = 500;

// The scan guard: libjpeg's progress monitor record, installed on a decoder
// by JpegApplyLimits. Lives as long as the decoder (the caller's job record).
struct TJpegScanGuard {
  jpeg_progress_mgr pub;  // first, so libjpeg's progress pointer is this record
};

// Bytes of the whole-image coefficient buffers libjpeg will allocate for the
// decoder's file (progressive and multi-scan files); 0 for a single-scan file,
// which is decoded a row of blocks at a time. Valid after jpeg_read_header.
uint64_t JpegCoefficientBytes(const jpeg_decompress_struct& cinfo);

// True when the coefficient buffers and `own_bytes` (what the caller will hold
// beside the decoder: pixel memory, rows, a cell) together pass kMaxPixelBytes.
bool JpegOverMemoryCap(const jpeg_decompress_struct& cinfo, uint64_t own_bytes);

// Limits libjpeg's memory to kMaxPixelBytes less `own_bytes` (or less, when
// JPEGMEM asks for less), with no temporary files behind it, and installs the
// scan guard. Call after jpeg_create_decompress; a later allocation over the
// limit then fails inside libjpeg (JERR_OUT_OF_MEMORY or JERR_NO_BACKING_STORE),
// and the 501st scan raises kLoadTooManyScans through the error manager.
void JpegApplyLimits(j_decompress_ptr cinfo, TJpegScanGuard* guard, uint64_t own_bytes);

// The load result for a fatal libjpeg error code when it is one of the caps:
// kLoadNoPixelMemory for memory, kLoadTooManyScans for scans; 0 otherwise.
int32_t JpegCapResult(int msg_code);
