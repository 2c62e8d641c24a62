#pragma once
// The image loading front end: size probes and full loads, chosen by extension.

#include <cstdint>

#include "imagein/load_codes.h"
#include "raster/membitmap.h"

// By the probe of the path's row in the format table (format_table.h): GIF
// (logical screen), JPEG, PNG, WebP, HEIC/HEIF/AVIF and TIFF files; width
// and height are set to 0 first. BMP, Targa and FITS files and unknown
// extensions are not probed: false, the outputs left alone.
bool ProbeImageSize(const char* path, int32_t* width, int32_t* height);
// The same size, and the EXIF orientation (1 for anything but a JPEG), read
// together: a JPEG is opened once.
bool ProbeImageSizeAndOrientation(const char* path, int32_t* width, int32_t* height, int32_t* orientation);
bool GifReadScreenSize(const char* path, int32_t* width, int32_t* height);
// The frame size in a plain (not sealed) BMP or Targa file's header; false
// when the header is not there. Outputs set to 0 first.
bool BmpReadSize(const char* path, int32_t* width, int32_t* height);
bool TargaReadSize(const char* path, int32_t* width, int32_t* height);

// Loads on the loader thread and hands the finished bitmap over; the caller
// then owns its pixel memory. Returns the load's result code.
int32_t LoadImageToBitmap(const char* path, int32_t requested_width, int32_t requested_height,
                          TMemBitmap& bitmap, int32_t load_flags, const char* key);

// Runs on the calling thread.
int32_t LoadImageByExtension(const char* path, int32_t requested_width, int32_t requested_height,
                             TMemBitmap& bitmap, int32_t load_flags, const char* key);

// Reader kinds: the format table's ids of the formats read by TImageSource
// readers (AVIF files are read by the HEIF row's reader).
enum TReaderKind : int32_t {
  kReaderGif = 1,
  kReaderBmp = 2,
  kReaderTarga = 3,
  kReaderFits = 4,
  kReaderPng = 5,
  kReaderWebp = 6,
  kReaderHeif = 7,
  kReaderTiff = 8,
};
// The format table's id of a path's row when a TImageSource reader reads
// it; 0 for JPEG and unknown extensions, which go to the JPEG adapter.
int32_t ReaderKindOf(const char* path);
int32_t LoadImageWithReader(const char* path, int32_t requested_width, int32_t requested_height,
                            TMemBitmap& bitmap, int32_t load_flags, const char* key, int32_t kind);
