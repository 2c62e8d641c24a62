#pragma once
// The words a photograph carries and the album texts of a folder: titles,
// captions, keywords, rating, lens and place, read from the photo's own
// metadata (EXIF, IPTC, XMP) and from the sidecar files beside it, and a
// folder's `index.md`. Every text is UTF-8; nothing here is escaped (the
// pages escape what they show). Sidecars are the user's files: read, never
// changed.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct TPhotoText {
  std::string title;                  // plain text, one line
  std::string caption;                // plain text, or Markdown when caption_markdown
  bool caption_markdown = false;      // the caption came from a Markdown sidecar
  std::vector<std::string> keywords;  // in the order read, without repeats
  int32_t rating = 0;                 // xmp:Rating 1-5; 0 none; -1 rejected
  std::string lens;                   // lens model, or empty
  std::string date_taken;             // "YYYY-MM-DD HH:MM:SS" from a sidecar, or empty
  bool has_location = false;          // latitude/longitude hold a place
  double latitude = 0;                // degrees, north positive
  double longitude = 0;               // degrees, east positive
};

// A folder's album texts from its `index.md`.
struct TAlbumText {
  bool present = false;       // the folder has a readable index.md
  std::string title;          // Title:, or empty
  std::string description;    // the Markdown after the header, or empty
  std::string cover;          // Thumbnail: an image file name of the folder, or empty
  std::string sort;           // Sort: "name", "natural", "date", or empty for the run's order
  bool reverse = false;       // Reverse: yes
};

// The largest sidecar or index.md read; a larger one is skipped with a warning.
inline constexpr int64_t kMaxTextSidecarBytes = 256 * 1024;

// Splits `text` into its header of `Name: value` lines (one-word names as written,
// values trimmed; an optional `---` line before and after the header) and
// the body after it (from the first line that is not a header line, a blank
// line between them dropped). A text without header lines is all body.
void SplitTextHeader(std::string_view text, std::vector<std::pair<std::string, std::string>>* fields,
                     std::string_view* body);

// Reads `index.md` of `folder`. False with `warning` set when the file is
// there but cannot be used (too large, unreadable, not UTF-8); false with an
// empty warning when there is none. `album` is reset first.
bool ReadAlbumText(const char* folder, TAlbumText* album, std::string* warning);

// Caps on what one photo's texts may hold; longer texts are cut at a
// character boundary, further keywords left out.
inline constexpr size_t kMaxPhotoTitleBytes = 1024;
inline constexpr size_t kMaxPhotoCaptionBytes = 64 * 1024;
inline constexpr size_t kMaxPhotoKeywords = 1000;
inline constexpr size_t kMaxPhotoKeywordBytes = 256;
// An XMP packet (embedded or a sidecar's) larger than this is not used.
inline constexpr size_t kMaxXmpPacketBytes = 1024 * 1024;
// Of a JPEG file only this head is handed to the metadata reader (its
// metadata segments come before the image data); a file of another format is
// read whole when it is no larger than kMaxMetadataFileBytes.
inline constexpr size_t kMaxJpegMetadataHead = 1024 * 1024;
inline constexpr size_t kMaxMetadataFileBytes = 64 * 1024 * 1024;

// Something left out of a photo's texts: the file and why.
struct TPhotoTextWarning {
  std::string path;
  std::string reason;
};

// Reads the texts of `folder`/`name`: its own metadata (XMP, IPTC, EXIF),
// then the sidecars beside it, a later one winning field by field: an XMP
// sidecar (`name.xmp`, else `stem.xmp`), a Markdown sidecar (`stem.md`; a
// folder's `index.md` is its album text, never a photo's) and a Google
// Photos Takeout JSON (`name.json`, else `name.supplemental-metadata.json`).
// A damaged or oversized part is left out with a warning. False when
// nothing was found. `text` is reset first.
bool ReadPhotoText(const char* folder, const char* name, TPhotoText* text, std::vector<TPhotoTextWarning>* warnings);

// The names of the sidecar files `name` may have, in the order they apply
// (the alternatives of one kind in order of preference).
std::vector<std::string> PhotoTextSidecarNames(const char* name);

// A key of the sidecars of `folder`/`name` that are there now (their names
// and file stamps): equal keys mean the same sidecars, unchanged. 0 when
// there is none.
uint64_t PhotoTextSidecarKey(const char* folder, const char* name);

// The image file `data` (JPEG, PNG, WebP, TIFF, ... as exiv2 writes them)
// without its GPS tags (EXIF GPS and XMP exif:GPS*), into `out`; a file
// without them as it is. False when the file cannot be read or rewritten
// (damaged, a format exiv2 does not know or cannot write).
bool StripPhotoLocation(const uint8_t* data, size_t size, std::vector<uint8_t>* out);
