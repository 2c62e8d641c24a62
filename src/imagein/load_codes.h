#pragma once
// Load flags and the result codes of a load that are the system's own.

#include <cstdint>

inline constexpr int32_t LF_GRAYSCALE = 0x01;
inline constexpr int32_t LF_QUANTIZE = 0x02;
inline constexpr int32_t LF_SCALE = 0x04;
inline constexpr int32_t LF_SCALE_BACK = 0x08;
inline constexpr int32_t LF_NO_QUANTIZE = 0x40;
inline constexpr int32_t LF_COLORMAP = 0x80;
inline constexpr int32_t LF_FIXED_PALETTE = 0x100;
inline constexpr int32_t LF_SNAP_PALETTE = 0x200;
// Transparent pixels of PNG, WebP, HEIF and TIFF images are laid over white
// instead of black (the thumbnail background).
inline constexpr int32_t LF_ALPHA_OVER_WHITE = 0x400;

// What thumbnail production asks for: 24-bit colour at full size.
inline constexpr int32_t kThumbnailLoadFlags = 88;

// Result codes of a load. 0 is success; every other value is a failure, and
// when a load fails the bitmap holds no pixels. Besides libjpeg's own message
// codes (for JPEG files) and the readers' codes (201-207 BMP, 213-224 GIF,
// 225-230 Targa, 236-241 FITS, 260-299 in format_codes.h; each row of the
// format table names its reader's range) a load returns:
//   39  the image has zero width or height
//   40  the file ended while the reader still needed bytes
//   118 a sealed file, and the key text is missing, empty or wrong
//   119 the file cannot be opened, or it is no regular file (a FIFO, a
//       device, a socket, a folder), which is refused before it is opened
//   250 the image's memory cannot be had: its pixel memory (width x height x
//       3 bytes) and, for a progressive or multi-scan JPEG file, libjpeg's
//       whole-image coefficient buffers (128 bytes per 8x8 block of every
//       component) would together pass kMaxPixelBytes (1 GiB), or an
//       allocation failed. Checked as soon as the header gives the size,
//       before any of that memory is taken; libjpeg itself may allocate no
//       more than the rest of the cap
//   251 the path has 256 characters or more and does not fit a load request
//       or a bitmap's name; it is refused, never cut
//   252 a JPEG file with more than 500 scans (kMaxJpegScans), or whose
//       scans together pass over more than 64 Mi blocks (kMaxJpegScanBlocks):
//       the decode stops before that scan and the image is refused
// libjpeg's own codes are numbered by the libjpeg in use and may coincide
// with the numbers above; the system's own codes are 39, 40, 118, 119, 250,
// 251 and 252.
inline constexpr int32_t kLoadOk = 0;
inline constexpr int32_t kLoadEmptyImage = 39;        // zero width or height
inline constexpr int32_t kLoadPrematureEnd = 40;      // file ended while the reader needed bytes
inline constexpr int32_t kLoadSealRejected = 118;     // sealed file without the right key
inline constexpr int32_t kLoadCannotOpen = 119;       // file cannot be opened (or is no regular file)
inline constexpr int32_t kLoadNoPixelMemory = 250;    // pixel memory over the cap or not to be had
inline constexpr int32_t kLoadPathTooLong = 251;      // path of 256 characters or more
inline constexpr int32_t kLoadTooManyScans = 252;     // JPEG file of too many scans or scan work
