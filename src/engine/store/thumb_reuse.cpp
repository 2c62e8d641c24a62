#include "engine/store/thumb_reuse.h"

#include "engine/run/image_order.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/store/generated_names.h"
#include "engine/store/prune.h"
#include "platform/atomic_file.h"
#include "platform/folder_handle.h"
#include "support/path_util.h"

namespace {

// The name of a cell thumbnail within the thumbnail folder: "quarto_tn<N>.jpg".
bool ThumbName(char* out, size_t capacity, int32_t position) {
  const int written = std::snprintf(out, capacity, "%s%d.jpg", kThumbnailFolder, position);
  return written > 0 && static_cast<size_t>(written) < capacity;
}

// Links `from` of the folder to a new temporary name beside it; `id`
// receives the number that names it. False when no link could be made.
bool LinkToTemporary(const TFolderHandle& thumbs, const char* from, unsigned* id) {
  char temp[kPathBufferSize];
  for (int attempt = 0; attempt < 100; ++attempt) {
    *id = NextTemporaryNumber();
    if (!MakeTemporaryName(temp, sizeof temp, from, *id)) return false;
    if (::linkat(thumbs.Descriptor(), from, thumbs.Descriptor(), temp, 0) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

template <typename T>
T* AllocateArray(int32_t count) {
  return static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T)));
}

}  // namespace

TThumbReuse::TThumbReuse(TIndexRun& run, const char* source, const char* folder,
                         TStringManager& images)
    : run_(run), folder_(folder), source_(source) {
  if (run.options.createthumbs == 0 || run.options.cellwidth < 1 || run.options.cellheight < 1) return;
  const int32_t total = images.TotalEntries();
  if (total <= 0) return;
  settings_.version = kThumbnailCodingVersion;
  settings_.cellwidth = run.options.cellwidth;
  settings_.cellheight = run.options.cellheight;
  settings_.thumbwhite = run.options.thumbwhite;

  char manifest[kPathBufferSize];
  char thumbs[kPathBufferSize];
  if (!ManifestPath(manifest, sizeof manifest) || !ThumbnailFolderPath(thumbs, sizeof thumbs, folder)) return;
  struct stat info;
  const bool thumbs_there = ::lstat(thumbs, &info) == 0;
  if (thumbs_there && !S_ISDIR(info.st_mode)) {
    // Thumbnails written through a linked thumbnail folder land wherever it
    // points; whatever manifest is there no longer describes its files.
    if (S_ISLNK(info.st_mode)) RemoveFileInFolder(manifest);
    return;
  }

  names_ = AllocateArray<const char*>(total);
  stamps_ = AllocateArray<TFileStamp>(total);
  sizes_ = AllocateArray<int64_t>(total);
  sources_ = AllocateArray<int32_t>(total);
  stamped_ = AllocateArray<uint8_t>(total);
  if (names_ == nullptr || stamps_ == nullptr || sizes_ == nullptr || sources_ == nullptr || stamped_ == nullptr) {
    // Untracked thumbnails are about to be written: the old manifest must go.
    RemoveFileInFolder(manifest);
    return;
  }
  int32_t n = 0;
  for (const TStrEntry* e = SortedImageWalk(images, run.options.order); e != nullptr && n < total; e = e->walk)
    names_[n++] = e->name;
  if (n != total) {
    RemoveFileInFolder(manifest);
    return;
  }
  count_ = total;
  for (int32_t i = 0; i < count_; ++i) {
    sizes_[i] = -1;
    sources_[i] = -1;
  }
  if (thumbs_there) {
    // Read even for a rebuild: pruning needs to know what earlier runs wrote.
    old_.Read(manifest);
    if (!old_.Valid()) manifest_removed_ = true;  // nothing valid to invalidate
  } else {
    manifest_removed_ = true;
  }
  old_usable_ = run.options.rebuild == 0 && old_.Valid() && old_.Settings() == settings_;
  active_ = true;
  Plan();
}

TThumbReuse::~TThumbReuse() {
  Finish();
  std::free(names_);
  std::free(stamps_);
  std::free(sizes_);
  std::free(sources_);
  std::free(stamped_);
}

bool TThumbReuse::ThumbPath(char* out, size_t capacity, int32_t position) const {
  char relative[64];
  return CellThumbnailPath(relative, sizeof relative, position) &&
         PathJoin(out, capacity, kMaxPath, folder_, relative);
}

bool TThumbReuse::ManifestPath(char* out, size_t capacity) const {
  char thumbs[kPathBufferSize];
  return ThumbnailFolderPath(thumbs, sizeof thumbs, folder_) &&
         PathJoin(out, capacity, kMaxPath, thumbs, kManifestFile);
}

bool TThumbReuse::ThumbHasSize(int32_t position, int64_t size) const {
  char path[kPathBufferSize];
  struct stat info;
  return ThumbPath(path, sizeof path, position) && ::lstat(path, &info) == 0 && S_ISREG(info.st_mode) &&
         static_cast<int64_t>(info.st_size) == size;
}

void TThumbReuse::Plan() {
  char image[kPathBufferSize];
  bool changes = run_.options.rebuild != 0;
  for (int32_t p = 0; p < count_; ++p) {
    // The stamp is taken before any decode: a source changed while it is
    // read then differs from its record next time, and is decoded again.
    struct stat info;
    if (PathJoin(image, sizeof image, kMaxPath, source_, names_[p]) && ::stat(image, &info) == 0 &&
        S_ISREG(info.st_mode)) {
      stamps_[p] = FileStampOf(info);
      stamped_[p] = 1;
    }
    if (old_usable_ && stamped_[p] != 0) {
      const int32_t first = old_.FindFirst(names_[p]);
      for (int32_t i = first; i >= 0 && i < old_.Count() && std::strcmp(old_.Record(i).name, names_[p]) == 0; ++i) {
        const TThumbRecord& record = old_.Record(i);
        if (!(record.stamp == stamps_[p]) || !ThumbHasSize(record.position, record.thumb_size)) continue;
        sources_[p] = record.position;
        sizes_[p] = record.thumb_size;
        break;
      }
    }
    if (sources_[p] != p) changes = true;
  }
  if (!changes) return;

  // Thumbnails are about to change: a killed run must find no manifest.
  char manifest[kPathBufferSize];
  if (!manifest_removed_) {
    if (ManifestPath(manifest, sizeof manifest) && RemoveFileInFolder(manifest)) {
      manifest_removed_ = true;
    } else {
      // A manifest that cannot be removed must not vouch for what follows.
      for (int32_t p = 0; p < count_; ++p) {
        sources_[p] = -1;
        sizes_[p] = -1;
      }
      active_ = false;
      return;
    }
  }
  MoveIntoPlace();
}

void TThumbReuse::MoveIntoPlace() {
  // First every moving thumbnail gets a second name, then each second name
  // replaces its new number: no number is overwritten before every
  // thumbnail that leaves it has been linked. All of it happens in the one
  // thumbnail folder, through its handle.
  char from[64];
  char temp[64 + 48];
  char to[64];
  int32_t moves = 0;
  for (int32_t p = 0; p < count_; ++p) moves += sources_[p] >= 0 && sources_[p] != p ? 1 : 0;
  if (moves == 0) return;
  TFolderHandle thumbs;
  const char* leaf = nullptr;
  char any_thumb[kPathBufferSize];
  // The number in each temporary name, by new position (4 bytes per image).
  auto* ids = AllocateArray<unsigned>(count_);
  if (ids == nullptr || !ThumbPath(any_thumb, sizeof any_thumb, 0) ||
      !OpenParentFolder(any_thumb, false, &thumbs, &leaf)) {
    for (int32_t p = 0; p < count_; ++p) {
      if (sources_[p] >= 0 && sources_[p] != p) {
        sources_[p] = -1;
        sizes_[p] = -1;
      }
    }
    std::free(ids);
    return;
  }
  for (int32_t p = 0; p < count_; ++p) {
    if (sources_[p] < 0 || sources_[p] == p) continue;
    if (!ThumbName(from, sizeof from, sources_[p]) || !LinkToTemporary(thumbs, from, &ids[p])) {
      sources_[p] = -1;
      sizes_[p] = -1;
    }
  }
  for (int32_t p = 0; p < count_; ++p) {
    if (sources_[p] < 0 || sources_[p] == p) continue;
    bool link_refused = false;
    const bool moved = ThumbName(from, sizeof from, sources_[p]) &&
                       MakeTemporaryName(temp, sizeof temp, from, ids[p]) && ThumbName(to, sizeof to, p) &&
                       RenameIntoPlace(thumbs, temp, to, &link_refused);
    if (!moved) {
      sources_[p] = -1;
      sizes_[p] = -1;
    }
  }
  std::free(ids);
}

bool TThumbReuse::Reused(int32_t position) const {
  return active_ && position >= 0 && position < count_ && sources_[position] >= 0;
}

void TThumbReuse::RecordWritten(int32_t position, int64_t size) {
  if (!active_ || position < 0 || position >= count_) return;
  sizes_[position] = size;
}

void TThumbReuse::PruneStale() {
  if (!active_ || pruned_) return;
  pruned_ = true;
  PruneThumbnails(folder_, count_, old_);
}

void TThumbReuse::Finish() {
  if (!active_ || finished_) return;
  finished_ = true;
  char manifest[kPathBufferSize];
  if (!ManifestPath(manifest, sizeof manifest)) return;
  TManifestText text(settings_);
  for (int32_t p = 0; p < count_; ++p) {
    if (sizes_[p] < 0 || stamped_[p] == 0) continue;
    TThumbRecord record;
    record.position = p;
    record.thumb_size = sizes_[p];
    record.stamp = stamps_[p];
    record.name = names_[p];
    text.Add(record);
  }
  // Thumbnails past the image count stay as they are (unless pruned) and
  // stay known, so a later run may reuse or prune them.
  if (old_.Valid() && old_.Settings() == settings_ && !pruned_) {
    for (int32_t i = 0; i < old_.Count(); ++i) {
      const TThumbRecord& record = old_.Record(i);
      if (record.position >= count_ && ThumbHasSize(record.position, record.thumb_size)) text.Add(record);
    }
  }
  if (text.Records() == 0 || !text.Finish()) {
    struct stat info;
    if (::lstat(manifest, &info) == 0 && S_ISREG(info.st_mode)) RemoveFileInFolder(manifest);
    return;
  }
  const auto* data = reinterpret_cast<const uint8_t*>(text.Data());
  if (!manifest_removed_ && old_.Raw() != nullptr && old_.RawSize() == text.Size() &&
      std::memcmp(old_.Raw(), data, text.Size()) == 0) {
    return;  // the manifest read at the start is this one
  }
  WriteFileIfChanged(manifest, data, text.Size());
}
