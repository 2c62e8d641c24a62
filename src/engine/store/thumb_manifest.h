#pragma once
// What a folder's cell thumbnails were made from: the file
// quarto_tn/vellumcast.manifest. One record per thumbnail file names its
// position (quarto_tn<position>.jpg), the size of that file, and the source
// image's name and file-system stamp; a header line holds the settings that
// shape every thumbnail. The text ends with a line carrying the record count
// and a checksum of everything before it, so a cut or altered file is
// refused as a whole:
//
//   vellumcast-manifest 1
//   settings <coding version> <cellwidth> <cellheight> <thumbwhite>
//   t <position> <thumbnail bytes> <source bytes> <mtime ns> <inode> <ctime ns> <name>
//   end <record count> <FNV-1a 64 of the text before this line, 16 hex digits>
//
// Names are written with every byte below 0x21, '%' and 0x7F and above as
// %XX, so a record is one line of printable words.

#include <cstddef>
#include <cstdint>

#include "platform/file_stamp.h"

// The thumbnail coding's own version: raise it whenever the bytes of a
// thumbnail for the same source and settings change (encoder, fit, stretch).
inline constexpr int32_t kThumbnailCodingVersion = 1;
// Manifests larger than this are refused unread.
inline constexpr size_t kMaxManifestBytes = size_t{64} << 20;

struct TThumbSettings {
  int32_t version = kThumbnailCodingVersion;
  int32_t cellwidth = 0;
  int32_t cellheight = 0;
  int32_t thumbwhite = 0;
  bool operator==(const TThumbSettings&) const = default;
};

struct TThumbRecord {
  int32_t position = 0;
  int64_t thumb_size = 0;
  TFileStamp stamp;  // the source image
  const char* name = nullptr;  // owned by the manifest
};

class TThumbManifest {
 public:
  TThumbManifest() = default;
  ~TThumbManifest();
  TThumbManifest(const TThumbManifest&) = delete;
  TThumbManifest& operator=(const TThumbManifest&) = delete;

  // Takes the manifest from `size` bytes of text. False, with the manifest
  // empty, for anything but a whole, well-formed manifest of this version
  // (positions unique, names non-empty without '/').
  bool Parse(const char* data, size_t size);
  // Reads and parses the regular file at `path` (not through a link). The
  // raw bytes stay available (Raw) until the manifest is cleared.
  bool Read(const char* path);
  void Clear();

  bool Valid() const { return valid_; }
  const TThumbSettings& Settings() const { return settings_; }
  int32_t Count() const { return count_; }
  // Records in the order of their names (byte order), then positions.
  const TThumbRecord& Record(int32_t index) const { return records_[index]; }
  // Index of the first record named `name`, or -1.
  int32_t FindFirst(const char* name) const;
  const char* Raw() const { return raw_; }
  size_t RawSize() const { return raw_size_; }

 private:
  bool ParseLines(const char* data, size_t size);

  bool valid_ = false;
  TThumbSettings settings_;
  TThumbRecord* records_ = nullptr;
  int32_t count_ = 0;
  char* names_ = nullptr;  // every name, NUL-terminated, one after another
  char* raw_ = nullptr;
  size_t raw_size_ = 0;
};

// Builds the text of a manifest, record by record, in a malloc'ed buffer.
class TManifestText {
 public:
  explicit TManifestText(const TThumbSettings& settings);
  ~TManifestText();
  TManifestText(const TManifestText&) = delete;
  TManifestText& operator=(const TManifestText&) = delete;

  void Add(const TThumbRecord& record);
  // Appends the end line; false when memory ran out at any point (then the
  // text must not be written).
  bool Finish();
  const char* Data() const { return data_; }
  size_t Size() const { return size_; }
  int32_t Records() const { return records_; }

 private:
  void Append(const char* text, size_t length);
  void Append(const char* text);

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  int32_t records_ = 0;
  bool failed_ = false;
};
