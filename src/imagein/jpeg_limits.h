#pragma once
// The caps every JPEG decode honours: the memory of libjpeg's whole-image
// coefficient buffers counts against the same cap as the pixel memory, libjpeg
// may allocate no more than what is left of that cap, and a decode stops
// after kMaxJpegScans scans or kMaxJpegScanBlocks blocks of scan work.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

// A file with more scans than this is refused with kLoadTooManyScans: a
// progressive file needs ten or so, and every scan is another pass over the
// whole image's coefficients.
inline constexpr int kMaxJpegScans = 500;
// Every scan is a pass over the blocks of its components, whatever few bytes
// it holds: a file whose scans together pass more blocks than this (64 passes
// over a 1024 x 1024-block image, about a second of CPU) is refused with
// kLoadTooManyScans as well. The ten or so scans of an ordinary progressive
// file make about five passes over all its blocks.
inline constexpr uint64_t kMaxJpegScanBlocks = uint64_t{64} << 20;

// The scan guard: libjpeg's progress monitor record, installed on a decoder
// by JpegApplyLimits. Lives as long as the decoder (the caller's job record).
struct TJpegScanGuard {
  jpeg_progress_mgr pub;  // first, so libjpeg's progress pointer is this record
  int counted_scan = 0;   // the last scan whose blocks were counted
  uint64_t scan_blocks = 0;
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
// and the 501st scan, or the scan whose blocks pass kMaxJpegScanBlocks,
// raises kLoadTooManyScans through the error manager before it is decoded.
void JpegApplyLimits(j_decompress_ptr cinfo, TJpegScanGuard* guard, uint64_t own_bytes);

// Holds the decoder's coefficient buffers (JpegCoefficientBytes) from
// CoefficientMemoryBudget(), waiting until they fit beside those of the other
// decodes; call between jpeg_read_header and jpeg_start_decompress, and give
// back what it returns with JpegReleaseCoefficients once the decoder is
// destroyed. A single-scan file holds nothing.
uint64_t JpegHoldCoefficients(const jpeg_decompress_struct& cinfo);
void JpegReleaseCoefficients(uint64_t held);

// The load result for a fatal libjpeg error code when it is one of the caps:
// kLoadNoPixelMemory for memory, kLoadTooManyScans for scans; 0 otherwise.
int32_t JpegCapResult(int msg_code);
