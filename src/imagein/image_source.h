#pragma once
// The interface of the GIF, BMP, Targa and FITS readers, and the buffered,
// sealed-file-aware byte reader they all read through.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "raster/jpeg_error.h"

// The reader context: the image description a reader's StartInput fills, and
// the error manager its errors go to.
struct TReaderContext {
  jpeg_common_struct common = {};  // err -> the error manager; client_data -> image_name
  const char* image_name = nullptr;
  uint32_t image_width = 0;
  uint32_t image_height = 0;
  int input_components = 3;        // 3: red, green, blue; 1: grey
  bool grayscale_input = false;    // in_color_space is greyscale
  int data_precision = 8;
  // Grey level that transparent pixels are laid over (PNG, WebP, HEIF, TIFF
  // alpha): 0 black, or 255 with LF_ALPHA_OVER_WHITE.
  uint8_t alpha_background = 0;
  // A reader whose library decodes at a reduced size (WebP stills) decodes
  // at this size when both are set and smaller than the image; the loader
  // leaves them 0 (full size).
  uint32_t wanted_width = 0;
  uint32_t wanted_height = 0;
};

// Raises a fatal reader error: sets msg_code and calls error_exit, which counts
// it and returns (no recovery point serves the readers' own errors).
void ReaderRaiseError(TReaderContext* context, int code);
// Raises a warning: sets msg_code and emits it at level -1, which counts it.
void ReaderRaiseWarning(TReaderContext* context, int code);

struct TSealCipher {
  const char* key_text = nullptr;   // text the key stream is built from
  uint32_t stream_cursor = 0;
  uint8_t key_stream[256] = {};
  bool built = false;
  char key_material[384] = {};      // file key (128) and second block (256)
};

inline constexpr int kSourceBufferSize = 4096;

struct TSourceReader {
  TSealCipher cipher;
  int32_t was_sealed = 0;
  const char* key = nullptr;        // key text, or null
  uint8_t* buffer = nullptr;        // kSourceBufferSize bytes, owned by the source
  const uint8_t* cursor = nullptr;
  int32_t count = 0;
  int32_t first_fill = 1;
  FILE* file = nullptr;             // opened and closed by the loader
};

struct TImageSource;
using TSourceStep = void (*)(TReaderContext* context, TImageSource* source);
using TSourceRows = uint32_t (*)(TReaderContext* context, TImageSource* source);

// Every reader derives its record from this one. The loader calls, in order:
// StartInput once, GetRows until it returns 0 or enough rows were taken,
// FinishInput once, then Destroy (which frees the record and all it owns).
struct TImageSource {
  TSourceStep StartInput = nullptr;
  TSourceRows GetRows = nullptr;    // a reader may replace it while running
  TSourceStep FinishInput = nullptr;
  void (*Destroy)(TImageSource* source) = nullptr;
  // Optional: passes over `count` rows as GetRows would read them, without
  // handing them out, and returns how many it passed (fewer at an error,
  // which it raises as GetRows does). Null: the rows are read with GetRows.
  uint32_t (*SkipRows)(TReaderContext* context, TImageSource* source, uint32_t count) = nullptr;
  TSourceReader reader;
  uint8_t* row_buffer = nullptr;    // one row: image_width * input_components bytes
  uint32_t buffer_height = 1;
};

// Buffered reader. SourceInit takes the 4096-byte buffer (false when it cannot);
// SourceRelease frees it.
bool SourceInit(TImageSource* source);
void SourceRelease(TImageSource* source);
bool SourceFill(TReaderContext* context, TImageSource* source);
int SourceReadByte(TReaderContext* context, TImageSource* source);  // 0..255, or -1 at the end
bool SourceReadBytes(TReaderContext* context, TImageSource* source, void* destination, uint32_t n);
// Reads every byte left in the file (deciphered when sealed) into one malloc'd
// block that the caller frees. False, with an error raised and nothing kept,
// for an empty file, a refused sealed-file header, more than `cap` bytes
// (kLoadNoPixelMemory) or memory that cannot be had.
bool SourceReadToEnd(TReaderContext* context, TImageSource* source, size_t cap, uint8_t** data,
                     size_t* size);

// Reader constructors: null when the record cannot be allocated.
TImageSource* CreateGifSource(TReaderContext* context);
TImageSource* CreateBmpSource(TReaderContext* context);
TImageSource* CreateTargaSource(TReaderContext* context);
TImageSource* CreateFitsSource(TReaderContext* context);
TImageSource* CreatePngSource(TReaderContext* context);
TImageSource* CreateWebpSource(TReaderContext* context);
TImageSource* CreateHeifSource(TReaderContext* context);
TImageSource* CreateTiffSource(TReaderContext* context);

// GIF only: the transparent colour of the last graphic control extension read.
bool GifTransparentColor(TImageSource* source, uint8_t* red, uint8_t* green, uint8_t* blue);
