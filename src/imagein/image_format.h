#pragma once
// Image formats known by file extension (matched without regard to case):
// which decoder reads a file, and whether a browser shows it as it is.

#include <cstdint>

enum class TImageFormat : int32_t {
  kUnknown = 0,
  kJpeg,   // .jpg .jpeg .jpe .jfif
  kGif,
  kBmp,
  kTarga,  // .tga
  kFits,   // .fts .fits
  kPng,
  kWebp,
  kHeif,   // .heic .heif
  kAvif,
  kTiff,   // .tif .tiff
};

TImageFormat ImageFormatOfPath(const char* path);

// True for the formats a web browser displays in an img tag (JPEG, GIF, BMP,
// PNG, WebP, AVIF); HEIC/HEIF, TIFF, Targa and FITS need a thumbnail.
bool BrowserDisplaysFormat(TImageFormat format);
