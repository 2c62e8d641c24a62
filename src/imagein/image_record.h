#pragma once
// One image file as its header describes it, probed once and handed on:
// the cell sizes its img tag from it, the thumbnail turns the image upright
// by it and reserves its decode's memory from it, the date order sorts by it.
// What is read is asked for, so that a run pays only for what it uses: the
// size probe of a JPEG file reads its head once and gets the orientation,
// the EXIF facts and the decode's needs from that same copy.

#include <cstdint>

#include "imagein/exif.h"
#include "imagein/format_table.h"
#include "imagein/load_peak.h"
#include "platform/file_stamp.h"

// What ProbeImageRecord is asked to read.
inline constexpr uint32_t kRecordSize = 0x1;         // size, orientation, EXIF facts
inline constexpr uint32_t kRecordDecodeNeeds = 0x2;  // the decode's peak
inline constexpr uint32_t kRecordStamp = 0x4;        // the file's stamp
// Orientation and EXIF facts: the size probe runs only for the formats
// whose probe reads them (JPEG); the others are upright without a read.
inline constexpr uint32_t kRecordOrientation = 0x8;

struct TImageRecord {
  const TFormatRow* format = nullptr;  // the row of its extension; null: none (the JPEG adapter reads it)
  bool size_known = false;   // the row's probe gave a size (never for BMP, Targa, FITS)
  int32_t width = 0;         // stored size
  int32_t height = 0;
  int32_t orientation = 1;   // EXIF orientation 1-8
  TExifFacts exif;           // date taken, camera, exposure (JPEG files)
  TLoadPeak peak;            // with kRecordDecodeNeeds; `known` false when the header does not tell
  bool stamp_known = false;
  TFileStamp stamp;          // with kRecordStamp
};

// Probes the file at `path` for what `wants` asks; `record` is reset first.
// False when the size was asked for and not known (the other parts asked
// for are still filled where they could be read).
bool ProbeImageRecord(const char* path, uint32_t wants, TImageRecord* record);
