#pragma once
// quarto_tn/vellumcast-modern.manifest: per source image of a folder, what
// its modern images were made from (the file's size, times and inode) and
// with which settings, and what they came out as, so that a later run can
// skip an unchanged image without decoding it. A versioned text file, one
// line per image and a closing line with the count; a file that does not
// read back whole counts as absent, so any doubt means producing again.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/modern/images.h"
#include "platform/file_stamp.h"

// Bumped whenever the images made from the same source would differ.
inline constexpr int32_t kModernEncoderVersion = 1;

// The sidecar key of an entry whose texts were not read (PhotoTextSidecarKey never gives it).
inline constexpr uint64_t kTextsNotRead = ~uint64_t{0};

struct TModernManifestEntry {
  std::string name;
  TFileStamp source;  // the state of the source file it was made from
  int32_t cellwidth = 0;
  int32_t cellheight = 0;
  int32_t crop = 0;
  int32_t version = 0;
  uint64_t sidecars = 0;  // PhotoTextSidecarKey of the photo's sidecars its texts were read with
  int32_t video_mode = 0;  // a video's: the --video mode its outputs were made under
  TModernImageResult result;  // paths as the page refers to them
};

// The entries of the manifest in `folder`'s thumbnail folder, sorted by
// name (FindModernEntry relies on that); empty when it
// is missing, of another version, damaged or cut short.
std::vector<TModernManifestEntry> ReadModernManifest(const char* folder);

// Puts the manifest in place (temporary file + rename) unless it would hold
// the same bytes; with no entries, removes it. False when it could not be written.
bool WriteModernManifest(const char* folder, const std::vector<TModernManifestEntry>& entries);

// The entry for `name` made from `key` with `options` at this version (a
// video's also under options.video_mode), or null.
const TModernManifestEntry* FindModernEntry(const std::vector<TModernManifestEntry>& entries, const char* name,
                                            const TFileStamp& key, const TModernImageOptions& options);
