#pragma once
// The images of the modern catalog style for the source images of one
// folder: per image a thumbnail at 1x and 2x of the cell (upright by the
// EXIF orientation, resampled with a proper filter, converted to sRGB,
// metadata stripped, quality 85) and, when the original is larger than
// kWebCopyLongSide on its long side or turned by its orientation, a web copy
// for the viewer page. Files go into the folder's thumbnail folder under
// names stable per source image (NamedImageStem, generated_names.h):
//   quarto_tn/vc-<16 hex>-1x.jpg, -2x.jpg, -web.jpg

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "imagein/photo_text.h"

inline constexpr int32_t kWebCopyLongSide = 2048;

struct TModernImageOptions {
  int32_t cellwidth = 140;
  int32_t cellheight = 100;
  int32_t crop = 0;  // 1: the thumbnail fills the cell, the overflow cut; 0: fitted inside it
  // 1: every image is decoded and its files written afresh, whatever the
  // manifest says; 0: an unchanged image keeps its files.
  int32_t rebuild = 0;
  // When set, raised once per image decoded, and once per image whose files were reused.
  std::atomic<int32_t>* decodes = nullptr;
  std::atomic<int32_t>* reuses = nullptr;
  // When set, raised once per image whose texts (metadata and sidecars) were read.
  std::atomic<int32_t>* text_reads = nullptr;
  // 0: the photos' texts are not read (they stay empty).
  int32_t read_texts = 1;
  // Videos: kVideoLink or kVideoTranscode (index_options.h): in transcode
  // mode a web copy is made of a video browsers do not play.
  int32_t video_mode = 1;
  // The run's stop, which ends a web copy under way; may be null.
  const std::atomic<bool>* stop = nullptr;
  // When set, raised once per web copy of a video made; `video_progress`
  // holds the per-mille of the copy under way (-1 when none).
  std::atomic<int32_t>* transcodes = nullptr;
  std::atomic<int32_t>* video_progress = nullptr;
};

// What a video's container tells and what was made of it.
struct TModernVideo {
  bool is_video = false;
  int32_t code = 0;          // the poster read's result (imagein/video.h); 0: a poster was made
  int64_t duration_ms = 0;   // 0 when not known
  std::string mime_type;     // of the original, for a <source type>
  bool playable = false;     // a browser plays the original as it is
  std::string web_copy;      // relative path of the MP4 web copy, or empty
  std::string web_failure;   // why a wanted web copy was not made; not stored
};

// What the source image tells about itself.
struct TImageFacts {
  int32_t width = 0;        // upright pixel size
  int32_t height = 0;
  int32_t orientation = 1;  // EXIF orientation 1-8 (1 when absent)
  std::string date_taken;   // "2024-05-01 14:03:22", or empty
  std::string camera;       // "Make Model", or empty
  std::string exposure;     // e.g. "1/250 s, f/2.8, ISO 100, 35 mm", or empty
  TPhotoText text;          // title, caption, keywords, rating, lens, place
};

// An output that could not be written (the page then shows the original):
// its path and why; the path is empty when nothing failed.
struct TModernWriteFailure {
  std::string path;
  int error = 0;                   // errno, when `reason` is null
  const char* reason = nullptr;
};

struct TModernImageResult {
  TImageFacts facts;
  std::string thumb_1x;     // relative to the image's folder, '/' separated
  std::string thumb_2x;     // empty when the source is too small for a 2x copy
  int32_t thumb_width = 0;  // size of the 1x thumbnail in pixels
  int32_t thumb_height = 0;
  std::string web_copy;     // relative path, or empty when the original serves
  int32_t web_width = 0;
  int32_t web_height = 0;
  TModernVideo video;       // a video's facts (is_video false for a photo)
  TModernWriteFailure failure;  // not stored in the manifest
  std::vector<TPhotoTextWarning> text_warnings;  // what reading the texts left out; not stored
};

// Produces (or reuses, when unchanged) the images of folder/name. False when
// the image cannot be decoded: the page then shows the original, scaled by
// the browser with the width and height of `result->facts` when known.
bool ProduceModernImages(const char* folder, const char* name, const TModernImageOptions& options,
                         TModernImageResult* result);

// The same for every image of a folder, produced ahead on every core in the
// order given; Take hands them out in that order.
class TModernFolderImages {
 public:
  TModernFolderImages(const char* folder, const char* const* names, int32_t count,
                      const TModernImageOptions& options);
  // The same reading the originals from `source`, writing below `folder`.
  TModernFolderImages(const char* source, const char* folder, const char* const* names, int32_t count,
                      const TModernImageOptions& options);
  ~TModernFolderImages();  // stops the work not taken and waits for the threads
  TModernFolderImages(const TModernFolderImages&) = delete;
  TModernFolderImages& operator=(const TModernFolderImages&) = delete;

  // Waits for image `position` (0-based, taken in increasing order) and
  // returns ProduceModernImages' result for it.
  bool Take(int32_t position, TModernImageResult* result);

 private:
  struct TState;
  TState* state_ = nullptr;
};
