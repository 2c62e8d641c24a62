// The classic cell of a PNG, WebP or TIFF file made as its rows are read.
// FitImageIntoCell's nearest-neighbour stretch takes whole source rows and
// columns, so the rows each cell row samples are known before any arrive:
// each source row is copied into the cell rows that sample it, and dropped;
// the rows none samples are passed over.

#include <cstdint>
#include <cstdlib>

#include "engine/classic/image_cell.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "imagein/reader_row_stream.h"
#include "raster/membitmap.h"

namespace {

struct TCellFeed {
  const TCellOptions* options = nullptr;
  TMemBitmap* cell = nullptr;
  int32_t kind = 0;
  TBltRect box;              // the picture's place in the cell (inclusive)
  bool copies = false;       // the box is a rectangle inside the cell
  uint32_t box_width = 0;
  uint32_t box_height = 0;
  int32_t wanted_width = 0;  // the size asked of a reader that scales
  int32_t wanted_height = 0;
  uint32_t* source_rows = nullptr;     // per cell row of the box, the source row it shows
  uint32_t* source_columns = nullptr;  // per cell column of the box, the source column
  bool cell_failed = false;
};

// The box as FitImageIntoCell places a width x height image.
void PlaceBox(TCellFeed* feed, int32_t width, int32_t height) {
  const TCellOptions& options = *feed->options;
  feed->box = TBltRect{0, 0, options.cellwidth - 1, options.cellheight - 1};
  const TBltRect src{0, 0, width - 1, height - 1};
  FitRect(feed->box, src, 1, 1, 1, width, height, 1);
  const TBltRect& box = feed->box;
  feed->box_width = static_cast<uint32_t>(box.right) - static_cast<uint32_t>(box.left) + 1;
  feed->box_height = static_cast<uint32_t>(box.bottom) - static_cast<uint32_t>(box.top) + 1;
  // BitmapStretch copies nothing into an empty box or one reaching outside the cell.
  feed->copies = static_cast<int32_t>(feed->box_width) > 0 && static_cast<int32_t>(feed->box_height) > 0 &&
                 box.left >= 0 && box.top >= 0 && box.left <= box.right && box.top <= box.bottom &&
                 box.right < options.cellwidth && box.bottom < options.cellheight;
}

bool PlanCell(void* context, const TJpegStreamHeader& header, int32_t* min_width, int32_t* min_height) {
  auto* feed = static_cast<TCellFeed*>(context);
  // A single pixel wide or high gets no thumbnail (the cell shows the image).
  if (header.width <= 1 || header.height <= 1) return false;
  PlaceBox(feed, header.width, header.height);
  if (feed->copies) {
    feed->wanted_width = static_cast<int32_t>(feed->box_width);
    feed->wanted_height = static_cast<int32_t>(feed->box_height);
    *min_width = feed->wanted_width;
    *min_height = feed->wanted_height;
  }
  return true;
}

bool StartCell(void* context, int32_t width, int32_t height) {
  auto* feed = static_cast<TCellFeed*>(context);
  const TCellOptions& options = *feed->options;
  // Unless the reader decoded at the box's size, the box is placed as for
  // the size it gives, as the full load's bitmap would have it.
  const bool scaled = width == feed->wanted_width && height == feed->wanted_height;
  if (!scaled) {
    if (width <= 1 || height <= 1) return false;
    PlaceBox(feed, width, height);
  }
  if (!BitmapCreate(*feed->cell, options.cellwidth, options.cellheight)) {
    feed->cell_failed = true;
    return false;
  }
  BitmapFill(*feed->cell, static_cast<uint8_t>(options.thumbwhite));
  if (!feed->copies) return true;
  feed->source_rows = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * feed->box_height));
  feed->source_columns = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * feed->box_width));
  if (feed->source_rows == nullptr || feed->source_columns == nullptr) {
    feed->cell_failed = true;
    return false;
  }
  const auto source_width = static_cast<uint32_t>(width);
  const auto source_height = static_cast<uint32_t>(height);
  for (uint32_t i = 0; i < feed->box_height; ++i)
    feed->source_rows[i] = StretchSampleOffset(i, source_height, feed->box_height);
  for (uint32_t j = 0; j < feed->box_width; ++j)
    feed->source_columns[j] = StretchSampleOffset(j, source_width, feed->box_width);
  return true;
}

void CellRow(void* context, int32_t y, const uint8_t* rgb) {
  auto* feed = static_cast<TCellFeed*>(context);
  if (!feed->copies) return;
  for (uint32_t i = 0; i < feed->box_height; ++i) {
    if (feed->source_rows[i] != static_cast<uint32_t>(y)) continue;
    uint8_t* out = BitmapPixel(*feed->cell, feed->box.left, feed->box.top + static_cast<int32_t>(i));
    for (uint32_t j = 0; j < feed->box_width; ++j, out += 3) {
      const uint8_t* pixel = rgb + size_t{feed->source_columns[j]} * 3;
      out[0] = pixel[2];
      out[1] = pixel[1];
      out[2] = pixel[0];
    }
  }
}

// The first source row from `y` on that a cell row shows: the rows between
// are never read into the cell (the reader may pass over them cheaply).
int32_t NextCellRow(void* context, int32_t y) {
  auto* feed = static_cast<TCellFeed*>(context);
  if (!feed->copies) return INT32_MAX;
  uint32_t next = UINT32_MAX;
  for (uint32_t i = 0; i < feed->box_height; ++i) {
    const uint32_t row = feed->source_rows[i];
    if (row >= static_cast<uint32_t>(y) && row < next) next = row;
  }
  return next > INT32_MAX ? INT32_MAX : static_cast<int32_t>(next);
}

}  // namespace

TStreamedCellResult StreamedReaderCell(const char* path, int32_t kind, const TCellOptions& options, TMemBitmap& cell,
                                       bool* unreadable) {
  *unreadable = false;
  TCellFeed feed;
  feed.options = &options;
  feed.cell = &cell;
  feed.kind = kind;
  TJpegRowSink sink;
  sink.context = &feed;
  sink.plan = PlanCell;
  sink.start = StartCell;
  sink.row = CellRow;
  sink.next_wanted = NextCellRow;
  const uint8_t background = (ThumbnailLoadFlags(options) & LF_ALPHA_OVER_WHITE) != 0 ? 255 : 0;
  const TReaderStreamOutcome outcome = ReaderStreamRows(path, kind, background, sink);
  std::free(feed.source_rows);
  std::free(feed.source_columns);
  if (outcome.result == TJpegStreamResult::kDone) return TStreamedCellResult::kMade;
  BitmapFree(cell);
  if (feed.cell_failed) {
    const uint64_t cell_bytes = uint64_t{static_cast<uint32_t>(options.cellheight)} *
                                (uint64_t{static_cast<uint32_t>(options.cellwidth)} + 3) * 3;
    return cell_bytes > kMaxPixelBytes ? TStreamedCellResult::kNoThumbnail : TStreamedCellResult::kOutOfMemory;
  }
  // Stopped by the plan: a single pixel wide or high. Anything else the load refuses.
  *unreadable = outcome.result != TJpegStreamResult::kStopped;
  return TStreamedCellResult::kNoThumbnail;
}
