#include "imagein/image_record.h"

#include <utility>

bool ProbeImageRecord(const char* path, uint32_t wants, TImageRecord* record) {
  *record = TImageRecord{};
  if (path == nullptr) return false;
  record->format = FormatOfPath(path);
  if (record->format != nullptr && record->format->video) return false;  // read through imagein/video.h
  // Files of no row go to the JPEG adapter: their decode is a JPEG decode.
  const TFormatRow* decoder = record->format;
  if (decoder == nullptr) decoder = FormatRowById(static_cast<int32_t>(TImageFormat::kJpeg));
  const bool jpeg_decode = decoder != nullptr && decoder->reader == nullptr;

  // Whether the size probe settled the decode's needs: it gave them, or its
  // header could not be read (a second read of it would fail the same way).
  bool needs_settled = false;
  const bool probe = (wants & kRecordSize) != 0 ||
                     ((wants & kRecordOrientation) != 0 && record->format != nullptr && record->format->exif);
  if (probe && record->format != nullptr && record->format->probe != nullptr) {
    TImageProbe probe;
    record->size_known = record->format->probe(path, &probe);
    record->width = probe.width;
    record->height = probe.height;
    record->orientation = probe.orientation;
    record->exif = std::move(probe.exif);
    record->exif.orientation = probe.orientation;
    needs_settled = probe.needs_known || !record->size_known;
    if ((wants & kRecordDecodeNeeds) != 0 && record->size_known && probe.needs_known)
      record->peak = LoadPeakOf(jpeg_decode, probe.width, probe.height, probe.decoder_bytes);
  }
  if ((wants & kRecordDecodeNeeds) != 0 && !needs_settled) record->peak = ReadLoadPeak(path);
  if ((wants & kRecordStamp) != 0) record->stamp_known = ReadFileStamp(path, &record->stamp);
  return (wants & kRecordSize) == 0 || record->size_known;
}
