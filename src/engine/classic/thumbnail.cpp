// The thumbnail of one image cell: the image decoded at full size, fitted and
// stretched into a cell-sized bitmap on the background colour, and written as
// a JPEG file of quality 90 into the folder's thumbnail folder.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "engine/store/generated_names.h"
#include "engine/classic/image_cell.h"
#include "imagein/load_codes.h"
#include "imagein/load_peak.h"
#include "imagein/loader.h"
#include "imagein/image_record.h"
#include "imagein/memory_budget.h"
#include "imagein/reader_row_stream.h"
#include "platform/atomic_file.h"
#include "platform/folder_handle.h"
#include "raster/jpeg_memory_writer.h"
#include "raster/membitmap.h"
#include "raster/orient.h"
#include "platform/symbolic_link.h"
#include "support/path_util.h"

namespace {

constexpr int kThumbQuality = 90;

}  // namespace

void NoteThumbnailNotWritten(TThumbnailFallback* fallback, const char* thumb_path, int error, const char* reason) {
  if (fallback == nullptr) return;
  fallback->not_written = true;
  fallback->error = error;
  fallback->reason = reason;
  std::snprintf(fallback->path, sizeof fallback->path, "%s", thumb_path);
}

void NoteImageUnreadable(TThumbnailFallback* fallback, const char* image_path) {
  if (fallback == nullptr) return;
  fallback->unreadable = true;
  std::snprintf(fallback->path, sizeof fallback->path, "%s", image_path);
}

bool ThumbnailFolderIsLink(const char* thumb_path, TThumbnailFallback* fallback) {
  char folder[kPathBufferSize];
  std::snprintf(folder, sizeof folder, "%s", thumb_path);
  char* name = PathFileName(folder);
  if (name > folder) name[-1] = '\0';  // the thumbnail folder itself
  if (!IsSymbolicLink(folder)) return false;
  NoteThumbnailNotWritten(fallback, thumb_path, 0, kLinkedFolderReason);
  return true;
}

int32_t ThumbnailLoadFlags(const TCellOptions& options) {
  return kThumbnailLoadFlags | (options.thumbwhite != 0 ? LF_ALPHA_OVER_WHITE : 0);
}

bool TurnImageUpright(TMemBitmap& image, int32_t orientation) {
  if (orientation == 1) return true;
  TMemBitmap upright;
  if (!BitmapOrient(image, orientation, upright)) return false;
  image = std::move(upright);
  return true;
}

void FitImageIntoCell(TMemBitmap& cell, const TMemBitmap& image, const TCellOptions& options) {
  BitmapFill(cell, static_cast<uint8_t>(options.thumbwhite));
  TBltRect box{0, 0, options.cellwidth - 1, options.cellheight - 1};
  const TBltRect src{0, 0, image.width - 1, image.height - 1};
  FitRect(box, src, 1, 1, 1, static_cast<int32_t>(image.full_width),
          static_cast<int32_t>(image.full_height), 1);
  BitmapStretch(cell, static_cast<uint32_t>(box.left), static_cast<uint32_t>(box.top),
                static_cast<uint32_t>(box.right), static_cast<uint32_t>(box.bottom), image,
                static_cast<uint32_t>(src.left), static_cast<uint32_t>(src.top),
                static_cast<uint32_t>(src.right), static_cast<uint32_t>(src.bottom));
}

void AppendThumbnailTag(std::string& out, int32_t position, const TCellOptions& options) {
  char tag[128];
  std::snprintf(tag, sizeof(tag), "<img src=%s/quarto_tn%d.jpg width=%d height=%d", kThumbnailFolder, position,
                options.cellwidth, options.cellheight);
  out += tag;
}

bool PutThumbnailFile(const char* path, const uint8_t* data, size_t size, const TCellOptions& options) {
  return options.compare_existing ? WriteFileIfChanged(path, data, size) : WriteFileReplacing(path, data, size);
}

int WriteThumbnail(std::string& out, const char* folder, const char* name, int32_t position,
                   const TCellOptions& options, TThumbnailFallback* fallback, int64_t* written_size) {
  return WriteThumbnail(out, folder, folder, name, position, options, fallback, written_size);
}

int WriteThumbnail(std::string& out, const char* source, const char* folder, const char* name, int32_t position,
                   const TCellOptions& options, TThumbnailFallback* fallback, int64_t* written_size,
                   const TImageRecord* record) {
  const int32_t cell_width = options.cellwidth;
  const int32_t cell_height = options.cellheight;
  if (cell_width < 1 || cell_height < 1) return 0;

  char image_path[kPathBufferSize];
  char relative[kPathBufferSize];
  char thumb_path[kPathBufferSize];
  if (!PathJoin(image_path, sizeof(image_path), kMaxPath, source, name)) return 0;
  if (!CellThumbnailPath(relative, sizeof(relative), position)) return 0;
  if (!PathJoin(thumb_path, sizeof(thumb_path), kMaxPath, folder, relative)) return 0;
  PathToUrlSlashes(relative);
  if (ThumbnailFolderIsLink(thumb_path, fallback)) return 0;

  TImageRecord probed;
  if (record == nullptr) {
    ProbeImageRecord(image_path, kRecordOrientation | kRecordDecodeNeeds, &probed);
    record = &probed;
  }
  // The file is coded in memory first, so that one holding the same bytes
  // already is left as it is.
  TEncodedJpeg jpeg;
  {
    // The decode, the cell and its coding hold the process's decode budget:
    // the full load (and a turned copy) beside the cell and its file, or for
    // a file read as its rows come, a row.
    const uint64_t cell_bytes = uint64_t{static_cast<uint32_t>(cell_height)} *
                                (uint64_t{static_cast<uint32_t>(cell_width)} + 3) * 3;
    const TLoadPeak& peak = record->peak;
    const int32_t kind = ReaderKindOf(image_path);
    const bool streamed = ReaderKindStreams(kind);
    const uint64_t decode_bytes = streamed ? LoadPeakBytes(peak, false) : LoadPeakBytes(peak, true) + peak.pixel_bytes;
    TBudgetHold hold(DecodeMemoryBudget(), decode_bytes + 2 * cell_bytes);
    if (options.decodes != nullptr) options.decodes->fetch_add(1, std::memory_order_relaxed);
    TMemBitmap cell;
    if (streamed) {
      bool unreadable = false;
      if (StreamedReaderCell(image_path, kind, options, cell, &unreadable) != TStreamedCellResult::kMade) {
        if (unreadable) NoteImageUnreadable(fallback, image_path);
        return 0;
      }
    } else {
      TMemBitmap image;
      LoadImageToBitmap(image_path, cell_width, cell_height, image, ThumbnailLoadFlags(options), nullptr);
      // One pixel wide or high, or nothing decoded: the cell shows the full image.
      if (image.pixels == nullptr) {
        NoteImageUnreadable(fallback, image_path);
        return 0;
      }
      if (image.width <= 1 || image.height <= 1 || image.header.biBitCount != 24) return 0;
      // A JPEG taken sideways is turned as its EXIF orientation says.
      if (!TurnImageUpright(image, record->orientation)) return 0;
      // A cell too large for the pixel memory cap gets no thumbnail either.
      if (!BitmapCreate(cell, cell_width, cell_height)) return 0;
      FitImageIntoCell(cell, image, options);
    }

    // A thumbnail that could not be written (its folder cannot be made, the
    // disk is full) is not referred to: the cell shows the full image instead
    // of a missing file.
    const bool encoded = JpegEncodeBitmap(cell, kThumbQuality, jpeg);
    BitmapFree(cell);
    if (!encoded) return 0;
  }
  errno = 0;
  if (!MakeParentFolder(thumb_path)) {
    // A file where the thumbnail folder goes makes mkdir say EEXIST.
    NoteThumbnailNotWritten(fallback, thumb_path, errno == EEXIST ? ENOTDIR : errno);
    return 0;
  }
  errno = 0;
  if (!PutThumbnailFile(thumb_path, jpeg.data, jpeg.size, options)) {
    NoteThumbnailNotWritten(fallback, thumb_path, errno);
    return 0;
  }
  if (written_size != nullptr) *written_size = static_cast<int64_t>(jpeg.size);

  char tag[kPathBufferSize + 64];
  std::snprintf(tag, sizeof(tag), "<img src=%s width=%d height=%d", relative, cell_width,
                cell_height);
  out += tag;
  return 1;
}
