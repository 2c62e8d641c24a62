#pragma once
// The img tag of one image cell: the full image with fitted width and height,
// or a cell-sized JPEG thumbnail written beside the images.

#include <atomic>
#include <cstdint>
#include <string>

#include "support/path_util.h"

struct TImageRecord;

struct TCellOptions {
  int32_t cellwidth = 120;
  int32_t cellheight = 80;
  int32_t thumbwhite = 0;   // background byte: 0 black, 255 white
  // false: a thumbnail file is written afresh even when it holds the same bytes.
  bool compare_existing = true;
  // When set, raised once for every source image decoded for a thumbnail.
  std::atomic<int32_t>* decodes = nullptr;
};

// Appends " width=W height=H" (or " width=cellwidth" when the size cannot be
// probed) for the full image at `image_path` as the browser shows it (upright
// by its EXIF orientation), and logs the path to fn.log.
void WriteImageSize(std::string& out, const char* image_path, const TCellOptions& options);

// While one exists, the fn.log lines of its thread go through one descriptor,
// opened (append only, in the current folder) at the first line and closed
// with the session, instead of an open and a close per line. Each line is
// still one write, so the file is as complete after every line. Sessions
// nest; without one, every line opens and closes the file.
class TProbeLogSession {
 public:
  // `folder` (null or empty: the current folder) holds the log.
  explicit TProbeLogSession(const char* folder = nullptr);
  ~TProbeLogSession();
  TProbeLogSession(const TProbeLogSession&) = delete;
  TProbeLogSession& operator=(const TProbeLogSession&) = delete;

  // The innermost session of the calling thread, or none.
  static TProbeLogSession* Current();
  // Appends the line `image_path` CR LF with one write; opens the file
  // first when it is not open yet, and tries again at the next line if that
  // fails.
  void Append(const char* image_path);

 private:
  int fd_ = -1;
  TProbeLogSession* outer_ = nullptr;
  std::string path_;
};

// Why a thumbnail cell fell back to the full image.
struct TThumbnailFallback {
  bool unreadable = false;    // the image could not be decoded
  bool not_written = false;   // the thumbnail file could not be written
  int error = 0;              // errno of the failed write, 0 when unknown
  const char* reason = nullptr;   // fixed text to show instead of the errno's
  char path[kPathBufferSize] = {};  // the image (unreadable) or the thumbnail (not written)
};

// Decodes folder/name, writes folder/quarto_tn/quarto_tn<position>.jpg and
// appends "<img src=quarto_tn/quarto_tn<position>.jpg width=W height=H"
// (left open for the page writer's ">"). Returns 1, or 0 with nothing
// appended when the image cannot be decoded or the thumbnail not written;
// `fallback` (may be null) then says which. A thumbnail folder that is a
// symbolic link is never written through: the thumbnail is not written.
// A thumbnail file that already holds the same bytes is left untouched
// (unless options.compare_existing is false). `written_size` (may be null)
// receives the thumbnail file's size on success.
int WriteThumbnail(std::string& out, const char* folder, const char* name, int32_t position,
                   const TCellOptions& options, TThumbnailFallback* fallback = nullptr,
                   int64_t* written_size = nullptr);
// The same decoding source/name and writing below `folder`. `record` (may be
// null: the image is then probed for it) is the image's probe with its
// orientation.
int WriteThumbnail(std::string& out, const char* source, const char* folder, const char* name, int32_t position,
                   const TCellOptions& options, TThumbnailFallback* fallback, int64_t* written_size,
                   const TImageRecord* record = nullptr);

// Records in `fallback` (may be null) that the thumbnail at `thumb_path` could
// not be written, with `error` (errno) or the fixed `reason`.
void NoteThumbnailNotWritten(TThumbnailFallback* fallback, const char* thumb_path, int error,
                             const char* reason = nullptr);
// Records in `fallback` (may be null) that the image at `image_path` could not be read.
void NoteImageUnreadable(TThumbnailFallback* fallback, const char* image_path);
// A thumbnail folder that is a symbolic link (checked before anything is
// written into it) leads the files elsewhere: true when `thumb_path`'s
// folder is one, noting why in `fallback`.
bool ThumbnailFolderIsLink(const char* thumb_path, TThumbnailFallback* fallback);

// The tag of a cell whose thumbnail file is in place:
// "<img src=quarto_tn/quarto_tn<position>.jpg width=W height=H".
void AppendThumbnailTag(std::string& out, int32_t position, const TCellOptions& options);

// Puts a finished thumbnail file image at `path`, leaving a file with the
// same bytes untouched unless options.compare_existing is false.
bool PutThumbnailFile(const char* path, const uint8_t* data, size_t size, const TCellOptions& options);

struct TMemBitmap;

// The load flags of a thumbnail: 24-bit colour at full size, transparent
// pixels laid over the cell's background.
int32_t ThumbnailLoadFlags(const TCellOptions& options);

// Turns a decoded image upright by its file's EXIF orientation (1-8, from
// its TImageRecord); unchanged for 1. False when memory runs out.
bool TurnImageUpright(TMemBitmap& image, int32_t orientation);

// The cell of a file whose reader streams (ReaderKindStreams: PNG, WebP,
// TIFF), made as its rows are read, without a bitmap of the image: the cell
// FitImageIntoCell makes from the full load, byte for byte, except that a
// WebP still is decoded by libwebp at the size its picture takes in the cell.
enum class TStreamedCellResult {
  kMade,
  kNoThumbnail,  // the load would fail (`unreadable` then), or one side is a single pixel
  kOutOfMemory,  // the cell's memory could not be had
};
TStreamedCellResult StreamedReaderCell(const char* path, int32_t kind, const TCellOptions& options, TMemBitmap& cell,
                                       bool* unreadable);

// Fills `cell` (already cell-sized) with the background and stretches the
// decoded `image` into it, fitted, centred and never enlarged past its own size.
void FitImageIntoCell(TMemBitmap& cell, const TMemBitmap& image, const TCellOptions& options);
