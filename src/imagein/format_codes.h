#pragma once
// Result codes of the PNG, WebP, HEIF/AVIF and TIFF readers (a load returns
// them like the other readers' codes), and the header probes of those formats.

#include <cstddef>
#include <cstdint>

// PNG, 260-269.
inline constexpr int32_t kPngNotPng = 260;         // no PNG signature
inline constexpr int32_t kPngDamagedHeader = 261;  // libpng refused the header (bad IHDR, CRC, over its limits)
inline constexpr int32_t kPngDamagedData = 262;    // refused while rows are read: the rows before it stay
// WebP, 270-279.
inline constexpr int32_t kWebpNotWebp = 270;       // no RIFF ... WEBP signature
inline constexpr int32_t kWebpTruncated = 271;     // the header ends early
inline constexpr int32_t kWebpUnsupported = 272;   // a feature libwebp does not decode
inline constexpr int32_t kWebpDamaged = 273;       // the bitstream does not decode
// HEIF and AVIF, 280-289.
inline constexpr int32_t kHeifNotHeif = 280;       // not a HEIF/AVIF file
inline constexpr int32_t kHeifNoDecoder = 281;     // no decoder for the image's coding
inline constexpr int32_t kHeifDamaged = 282;       // the file's structure is damaged or truncated
inline constexpr int32_t kHeifDecodeFailed = 283;  // the primary image does not decode
inline constexpr int32_t kHeifOverLimits = 284;    // over libheif's security limits
// TIFF, 290-299.
inline constexpr int32_t kTiffNotTiff = 290;       // libtiff cannot open it (no TIFF header, damaged directory)
inline constexpr int32_t kTiffUnsupported = 291;   // a layout libtiff's RGBA interface does not read
inline constexpr int32_t kTiffDecodeFailed = 292;  // the pixel data is damaged or truncated

// Sizes from the first bytes of a file (PNG: 24 bytes, WebP: 64 are enough).
bool PngReadSize(const uint8_t* head, size_t size, int32_t* width, int32_t* height);
bool WebpReadSize(const uint8_t* head, size_t size, int32_t* width, int32_t* height);
// Sizes read with the library from the regular file at `path`.
bool HeifReadSize(const char* path, int32_t* width, int32_t* height);
bool TiffReadSize(const char* path, int32_t* width, int32_t* height);
