#include "imagein/load_peak.h"

#include "imagein/format_table.h"
#include "imagein/reader_row_stream.h"
#include "raster/membitmap.h"
#include "support/path_util.h"

namespace {

bool SetSize(TLoadPeak* peak, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return false;
  peak->width = static_cast<uint32_t>(width);
  peak->height = static_cast<uint32_t>(height);
  peak->pixel_bytes = uint64_t{BitmapStride(width)} * peak->height;
  peak->known = true;
  return true;
}

}  // namespace

TLoadPeak ReadLoadPeak(const char* path) {
  TLoadPeak peak;
  if (path == nullptr) return peak;
  // Unknown extensions go to the JPEG adapter, as the front end sends them.
  const TFormatRow* row = FormatOfPath(path);
  if (row == nullptr) row = FormatRowById(static_cast<int32_t>(TImageFormat::kJpeg));
  if (row == nullptr || row->needs == nullptr) return peak;
  int32_t width = 0;
  int32_t height = 0;
  uint64_t decoder_bytes = 0;
  if (!row->needs(path, &width, &height, &decoder_bytes)) return peak;
  peak = LoadPeakOf(row->reader == nullptr, width, height, decoder_bytes);
  // A reader that hands its rows on as read keeps no bitmap of the image.
  peak.streams = peak.known && row->reader != nullptr && ReaderKindStreams(row->id);
  return peak;
}

TLoadPeak LoadPeakOf(bool jpeg, int32_t width, int32_t height, uint64_t decoder_bytes) {
  TLoadPeak peak;
  if (!SetSize(&peak, width, height)) return peak;
  peak.jpeg = jpeg;
  peak.decoder_bytes = decoder_bytes;
  return peak;
}

uint64_t LoadPeakBytes(const TLoadPeak& peak, bool full_load) {
  if (!peak.known) return kMaxPixelBytes;
  const uint64_t image = (peak.jpeg || peak.streams) && !full_load ? uint64_t{peak.width} * 4 : peak.pixel_bytes;
  return peak.decoder_bytes + image;
}

bool LoadPeakRefusedByJpeg(const TLoadPeak& peak) {
  return peak.known && peak.jpeg && (peak.decoder_bytes > kMaxPixelBytes ||
                        peak.pixel_bytes > kMaxPixelBytes - peak.decoder_bytes);
}
