#pragma once
// The image formats the program reads, one row each: its id and name, the
// file names it is known by, whether a browser shows such a file as it is,
// how its header is probed (size and orientation, the decode's needs), which
// reader decodes it and the range of its reader's result codes. Everything
// that asks about formats reads this table: the loader's dispatch, the size
// probes, the walk's listing patterns, the pages' "does a browser show it".
// File names are matched by extension without regard to case.

#include <cstddef>
#include <cstdint>

#include "imagein/exif.h"
#include "imagein/image_source.h"

// The built-in formats. The numbers of the formats read through
// TImageSource readers are also their reader kinds (loader.h).
enum class TImageFormat : int32_t {
  kUnknown = 0,
  kGif = 1,
  kBmp = 2,
  kTarga = 3,  // .tga
  kFits = 4,   // .fts .fits
  kPng = 5,
  kWebp = 6,
  kHeif = 7,   // .heic .heif
  kTiff = 8,   // .tif .tiff
  kJpeg = 9,   // .jpg .jpeg .jpe .jfif
  kAvif = 10,
  // Videos: listed beside the photos by the modern style, never decoded as images.
  kMp4 = 32,   // .mp4 .m4v
  kMov = 33,   // .mov
  kWebm = 34,
  kMkv = 35,
  kAvi = 36,
  kThreeGp = 37,  // .3gp
  kMts = 38,      // .mts (AVCHD)
};
// Rows registered at run time (RegisterImageFormat) take ids from here on.
inline constexpr int32_t kFirstRegisteredFormat = 64;

// What a header tells before any decode: the stored size, the EXIF
// orientation (1-8; 1 for formats that carry none) and the other EXIF facts
// the pages show, and, when the same read gives them, the decode's needs.
struct TImageProbe {
  int32_t width = 0;
  int32_t height = 0;
  int32_t orientation = 1;
  TExifFacts exif;              // orientation stays the field above
  bool needs_known = false;     // decoder_bytes was read with the size
  uint64_t decoder_bytes = 0;   // as TFormatNeeds gives it
};

// Reads the header of the regular file at `path`; false when it has no size to give.
using TFormatProbe = bool (*)(const char* path, TImageProbe* probe);
// The full size and the bytes the decoder keeps beside the bitmap (a frame,
// coefficient buffers), from the header alone; false when not known.
using TFormatNeeds = bool (*)(const char* path, int32_t* width, int32_t* height, uint64_t* decoder_bytes);
using TSourceCreate = TImageSource* (*)(TReaderContext* context);

inline constexpr int kMaxFormatPatterns = 5;

struct TFormatRow {
  int32_t id = 0;                  // a TImageFormat, or a registered id
  const char* name = nullptr;      // "JPEG"
  // Listing patterns "*.ext", lower case; the extension is the pattern past
  // its '*'. Unused slots are null.
  const char* patterns[kMaxFormatPatterns] = {};
  // The pattern of this format in the described `formats=classic` set
  // ("*.gif", "*.jpg", "*.bmp"), or null.
  const char* classic_pattern = nullptr;
  bool browser_shows = false;      // an img tag shows the file as it is
  TFormatProbe probe = nullptr;    // null: a full-image cell cannot be sized
  TFormatNeeds needs = nullptr;    // null: a decode's peak is not known ahead
  TSourceCreate reader = nullptr;  // null: the JPEG adapter decodes the file
  int32_t first_code = 0;          // the reader's own result codes; 0, 0 for none
  int32_t last_code = 0;
  bool exif = false;               // its probe reads the EXIF facts (orientation, date taken, camera)
  // Served as it is where a page shows the image large (the modern viewer):
  // a browser shows it and it is compressed for the web. BMP is shown by
  // browsers but is not: it gets a web copy.
  bool web_ready = false;
  // A video: read through imagein/video.h, never by an image path (the
  // loader's dispatch, probes, thumbnails, the classic pages); its patterns
  // are not among FormatPatterns but VideoPatterns.
  bool video = false;
};

// The rows, built-in first and registered after; `count` receives their number.
const TFormatRow* FormatRows(size_t* count);
// The row whose extension `path` ends in; null for none (and for null).
const TFormatRow* FormatOfPath(const char* path);
// The row of an id; null for none.
const TFormatRow* FormatRowById(int32_t id);
// The id of FormatOfPath, kUnknown (0) for none.
int32_t FormatIdOfPath(const char* path);
// True when `path` names a video (a row marked `video`).
bool IsVideoPath(const char* path);
// True when a browser shows the file at `path` as it is (by its format).
bool BrowserShowsPath(const char* path);
// True when the file at `path` is served as it is in a viewer (TFormatRow::web_ready).
bool WebReadyPath(const char* path);

// The listing patterns of every image row, or (classic_only) the classic set
// in the order "*.gif", "*.jpg", "*.bmp". Videos are never among them. The
// array stays valid until the next registration.
const char* const* FormatPatterns(bool classic_only, size_t* count);
// The listing patterns of the video rows.
const char* const* VideoPatterns(size_t* count);

// Adds a row, for a format the program does not build in (tests use it):
// false when the id or one of its extensions is taken, the row has no
// pattern, or the table is full. Not while a run reads the table.
bool RegisterImageFormat(const TFormatRow& row);
// Removes every registered row.
void ClearRegisteredFormats();
