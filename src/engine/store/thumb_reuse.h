#pragma once
// Reuse of a folder's cell thumbnails from an earlier run. Before any cell is
// produced, the folder's manifest (thumb_manifest.h) is read and every image
// whose source is unchanged (name, size, modification and change times,
// inode) and whose thumbnail file still has its recorded size, made with the
// same cell settings, keeps that thumbnail: it is linked into its new number
// when the image moved, never decoded again. Everything else is decoded as
// usual. At the end of the folder the manifest is written anew from what
// the folder's thumbnails now are.
//
// A run killed at any point must leave nothing that a later run could
// mistake for a valid thumbnail: so, before the first thumbnail of the
// folder changes (a move or a new thumbnail), the old manifest is removed;
// the new one takes its place only when the folder is complete. Moves go
// through temporary names (hard links first, then renames into place), so
// cycles of numbers are safe and a number an image left keeps its file, as
// it would if every thumbnail were written afresh.

#include <sys/types.h>

#include <cstdint>

#include "engine/run/index_run.h"
#include "engine/store/thumb_manifest.h"
#include "support/strman.h"

class TThumbReuse {
 public:
  // Plans and carries out the reuse for the `images` (walked in the page
  // writer's order) read from `source`, whose thumbnails live below `folder`.
  // Does nothing without thumbnails.
  TThumbReuse(TIndexRun& run, const char* source, const char* folder, TStringManager& images);
  ~TThumbReuse();  // Finish()
  TThumbReuse(const TThumbReuse&) = delete;
  TThumbReuse& operator=(const TThumbReuse&) = delete;

  // True when this folder's thumbnails are tracked by a manifest.
  bool Active() const { return active_; }
  // True when the thumbnail of the image at `position` is in place already.
  bool Reused(int32_t position) const;
  // The thumbnail of `position` was written by this run, `size` bytes.
  void RecordWritten(int32_t position, int64_t size);
  // Removes the thumbnails that the earlier manifest lists at numbers past
  // this folder's image count.
  void PruneStale();
  // Writes the manifest (once); a folder left without tracked thumbnails
  // loses its manifest.
  void Finish();

 private:
  bool ThumbPath(char* out, size_t capacity, int32_t position) const;
  bool ManifestPath(char* out, size_t capacity) const;
  bool ThumbHasSize(int32_t position, int64_t size) const;
  void Plan();
  void MoveIntoPlace();

  TIndexRun& run_;
  const char* folder_;   // where the thumbnails and the manifest are
  const char* source_;   // where the images are
  bool active_ = false;
  bool finished_ = false;
  bool manifest_removed_ = false;  // the old manifest is gone (or never was)
  bool pruned_ = false;
  int32_t count_ = 0;
  TThumbSettings settings_;
  TThumbManifest old_;
  bool old_usable_ = false;        // old_ made with the same settings, and reuse allowed
  const char** names_ = nullptr;
  TFileStamp* stamps_ = nullptr;
  int64_t* sizes_ = nullptr;       // thumbnail size per position; -1: none tracked
  int32_t* sources_ = nullptr;     // old number of a reused thumbnail; -1: decode
  uint8_t* stamped_ = nullptr;     // 1: stamps_[position] is the source's stamp
};
