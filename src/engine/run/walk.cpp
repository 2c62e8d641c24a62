#include "engine/run/walk.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>

#include "engine/run/catalog_filter.h"
#include "engine/store/first_page.h"
#include "engine/publish/folder_place.h"
#include "engine/publish/original_copies.h"
#include "engine/classic/image_cell.h"
#include "engine/run/image_order.h"
#include "engine/modern/album.h"
#include "engine/modern/page_writer.h"
#include "engine/modern/theme.h"
#include "engine/classic/page_writer.h"
#include "imagein/format_table.h"
#include "platform/dir_listing.h"
#include "platform/folder_handle.h"
#include "platform/kernel_file_system.h"
#include "platform/real_path.h"
#include "support/path_util.h"

namespace {

size_t FolderSlot(dev_t device, ino_t inode, size_t mask) {
  uint64_t h = static_cast<uint64_t>(inode) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(device);
  h ^= h >> 29;
  return static_cast<size_t>(h) & mask;
}

// A warning for folder/name, whose path would pass `limit` characters.
void ReportTooLong(TIndexRun& run, const char* folder, const char* name, size_t limit) {
  // The message shows as much of the path as its buffer holds.
  char path[kPathBufferSize];
  const size_t length = std::strlen(folder);
  const bool separator = length > 0 && folder[length - 1] != kPathSeparator;
  std::snprintf(path, sizeof path, "%s%.*s%s", folder, separator ? 1 : 0, &kPathSeparator, name);
  char reason[64];
  std::snprintf(reason, sizeof reason, "path longer than %zu characters", limit);
  run.report.AddWarning(TRunWarning::kTooLong, path, 0, reason);
}

// Walks every subfolder the listing yields (the thumbnail folder and "." and
// ".." apart) and enters those with images in the table with their totals.
void WalkSubfolders(TFolderWalk& walk, TIndexRun& run, int32_t depth, const char* folder,
                    TDirListing& listing, TStringManager& table, TLeftoverHint* leftovers = nullptr) {
  if (!listing.IsOpen()) return;
  char path[kFolderPathBufferSize];
  while (!run.Terminated() && listing.Next()) {
    const char* name = listing.Name();
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    // The same listing tells whether a dead run may have left temporary
    // files here, and whether there is a thumbnail folder to look in.
    const bool thumbnail_folder = IsThumbnailFolderName(name);
    if (leftovers != nullptr && HasTemporarySuffix(name)) leftovers->in_folder = true;
    if (leftovers != nullptr && thumbnail_folder) leftovers->thumbnail_folder = true;
    if (thumbnail_folder) continue;
    if (!listing.IsDirectory()) continue;
    if (IsSkippedFolder(run, name)) continue;
    // A path over the limit is skipped, never cut: a cut path names another folder.
    int32_t result = 0;
    if (!PathJoin(path, sizeof path, kMaxFolderPath, folder, name)) {
      ReportTooLong(run, folder, name, kMaxFolderPath);
    } else if (!listing.IsLink() || walk.MayEnterLink(path)) {
      result = walk.IndexFolder(depth + 1, path);
    }
    if (result > 0) {
      if (TStrEntry* entry = table.FindOrAdd(name)) entry->count = result;
    }
    ++run.counters.dircount;
    PostToOwner(run, WM_INDEX_PROGRESS);
  }
}

// Enters every regular file the listing yields whose full path fits.
void CollectImages(TIndexRun& run, const char* folder, TDirListing& listing,
                   TStringManager& table) {
  if (!listing.IsOpen()) return;
  char path[kPathBufferSize];
  int32_t videos_left_out = 0;
  while (!run.Terminated() && listing.Next()) {
    if (!listing.IsRegularFile()) continue;
    if (!PathJoin(path, sizeof path, kMaxPath, folder, listing.Name())) {
      ReportTooLong(run, folder, listing.Name(), kMaxPath);
      continue;
    }
    if (IsExcludedName(run, listing.Name())) continue;
    if (run.options.video == kVideoOff && IsVideoPath(listing.Name())) {
      ++videos_left_out;
      continue;
    }
    // One listing pass yields each file once, so each is counted once.
    if (IsUndisplayableWithoutThumbnail(run, listing.Name())) {
      ++run.counters.skipped_undisplayable;
      run.report.AddWarning(TRunWarning::kUndisplayable, path, 0,
                               "no browser shows this format and thumbnails are off");
      continue;
    }
    table.FindOrAdd(listing.Name());
  }
  if (videos_left_out > 0) {
    char reason[64];
    std::snprintf(reason, sizeof reason, "%d video%s left out (--video=off)", videos_left_out,
                  videos_left_out == 1 ? "" : "s");
    run.report.AddWarning(TRunWarning::kVideosOff, folder, 0, reason);
  }
}

// Makes the output folder of a folder with pages, links it to its photo
// folder and places the originals when they go beside the pages. False
// (reported) when the folder cannot be made, or when a link in the output
// folder leads it out of `root_real` (the resolved output folder of the run),
// where it could land in the photo tree.
bool PrepareOutputFolder(TIndexRun& run, TFolderPlace& place, TStringManager& images,
                         const char* root_real) {
  if (CheckDirPath(place.output, 1) == 0) {
    run.report.AddFailure(TRunFailure::kPage, place.output, errno, "the output folder cannot be made");
    return false;
  }
  char output_real[PATH_MAX];
  char source_real[PATH_MAX];
  if (!ResolvePath(place.output, output_real, sizeof output_real) || !IsPathWithin(output_real, root_real)) {
    run.report.AddFailure(TRunFailure::kPage, place.output, 0, "a link leads out of the output folder");
    return false;
  }
  if (ResolvePath(place.source, source_real, sizeof source_real)) {
    place.link_prefix = RelativeFolderLink(output_real, source_real);
  }
  if (run.options.images != kImagesLink) PlaceOriginals(run, place, images);
  return true;
}

}  // namespace

bool TFolderWalk::PrepareOutput(const char* start) {
  has_output_ = false;
  if (run_.options.outputpath.empty()) return true;
  const char* output = run_.options.outputpath.c_str();
  if (std::strlen(output) > kMaxFolderPath || CheckDirPath(output, 1) == 0) {
    run_.report.AddFailure(TRunFailure::kPage, output, std::strlen(output) > kMaxFolderPath ? ENAMETOOLONG : errno,
                              "the output folder cannot be made");
    return false;
  }
  struct stat info;
  char output_real[PATH_MAX];
  if (::stat(output, &info) != 0 || !ResolvePath(output, output_real, sizeof output_real)) {
    run_.report.AddFailure(TRunFailure::kPage, output, errno, "the output folder cannot be made");
    return false;
  }
  // The starting folder itself as the output folder: the catalog goes into the tree.
  if (root_real_[0] != '\0' && std::strcmp(output_real, root_real_) == 0) return true;
  has_output_ = true;
  std::memcpy(output_real_, output_real, sizeof output_real_);
  output_root_ = output;
  output_device_ = info.st_dev;
  output_inode_ = info.st_ino;
  start_length_ = std::strlen(start);
  return true;
}

std::string TFolderWalk::OutputFolderOf(const char* folder) const {
  const size_t length = std::strlen(folder);
  const char* rest = folder + (length < start_length_ ? length : start_length_);
  std::string output = output_root_;
  if (*rest != '\0' && *rest != kPathSeparator && !output.empty() && output.back() != kPathSeparator) {
    output += kPathSeparator;
  }
  output += rest;
  return output;
}

TFolderWalk::TFolderWalk(TIndexRun& run, TModernTheme* theme) : run_(run), theme_(theme) {
  if (theme_ != nullptr || run_.options.style != 1) return;
  own_theme_ = std::make_unique<TModernTheme>();
  TThemeError error;
  own_theme_->Load(std::string(), &error);  // the built-in theme always loads
  theme_ = own_theme_.get();
}

TFolderWalk::~TFolderWalk() { std::free(done_); }

bool TFolderWalk::OnCurrentPath(dev_t device, ino_t inode) const {
  for (const TFrame* f = current_; f != nullptr; f = f->parent) {
    if (f->device == device && f->inode == inode) return true;
  }
  return false;
}

const TFolderWalk::TDone* TFolderWalk::FindDone(dev_t device, ino_t inode) const {
  if (done_capacity_ == 0) return nullptr;
  const size_t mask = done_capacity_ - 1;
  for (size_t i = FolderSlot(device, inode, mask);; i = (i + 1) & mask) {
    const TDone& slot = done_[i];
    if (!slot.used) return nullptr;
    if (slot.device == device && slot.inode == inode) return &slot;
  }
}

void TFolderWalk::RememberDone(dev_t device, ino_t inode, int32_t total) {
  if ((done_count_ + 1) * 2 > done_capacity_) {
    // Without memory the walk goes on, guarded by the current path alone.
    const size_t capacity = done_capacity_ == 0 ? 256 : done_capacity_ * 2;
    auto* grown = static_cast<TDone*>(std::calloc(capacity, sizeof(TDone)));
    if (grown == nullptr) return;
    TDone* old = done_;
    const size_t old_capacity = done_capacity_;
    done_ = grown;
    done_capacity_ = capacity;
    done_count_ = 0;
    for (size_t i = 0; i < old_capacity; ++i) {
      if (old[i].used) RememberDone(old[i].device, old[i].inode, old[i].total);
    }
    std::free(old);
  }
  const size_t mask = done_capacity_ - 1;
  size_t i = FolderSlot(device, inode, mask);
  while (done_[i].used) {
    if (done_[i].device == device && done_[i].inode == inode) return;
    i = (i + 1) & mask;
  }
  done_[i] = TDone{device, inode, total, true};
  ++done_count_;
}

int32_t TFolderWalk::IndexFolder(int32_t depth, const char* folder) {
  if (run_.Terminated()) return 0;
  if (std::strlen(folder) > kMaxFolderPath) return 0;

  // One open listing serves the folder twice: first for its subfolders, then,
  // read again from its first entry after they are all walked, for its
  // images, so the images are what the folder holds once its subfolders are
  // done, as with a listing opened at that point.
  TDirListing listing(folder, "*.*");
  dev_t device = 0;
  ino_t inode = 0;
  if (!listing.Identity(&device, &inode)) {
    // No folder, nothing to list.
    run_.report.AddWarning(TRunWarning::kUnlisted, folder, listing.OpenError());
    return 0;
  }
  if (has_output_ && device == output_device_ && inode == output_inode_) return 0;  // the catalog's own folder
  if (OnCurrentPath(device, inode)) return 0;
  if (const TDone* done = FindDone(device, inode)) return done->total;
  // Only a mount can change the file system: examined where the device changes.
  if ((current_ == nullptr || current_->device != device) && IsKernelFileSystem(folder)) {
    run_.report.AddWarning(TRunWarning::kNotEntered, folder, 0, "a kernel file system");
    return 0;
  }
  if (current_ == nullptr) {
    if (!ResolvePath(folder, root_real_, sizeof root_real_)) root_real_[0] = '\0';
    if (!PrepareOutput(folder)) return 0;
  }

  // The probe log stays open for the whole run: one descriptor, not one per line.
  std::optional<TProbeLogSession> probe_log;
  if (current_ == nullptr) probe_log.emplace(has_output_ ? output_root_.c_str() : nullptr);

  // The album texts are read on the way down: the pages below show this
  // folder's title in their breadcrumb.
  TModernAlbum album;
  if (run_.options.style == kStyleModern) {
    ReadFolderAlbum(run_, folder, &album.text);
    for (const TFrame* f = current_; f != nullptr; f = f->parent) album.ancestor_titles.push_back(*f->album_title);
  }
  const TFrame frame{device, inode, current_, &album.text.title};
  current_ = &frame;

  TStringManager subfolders(sizeof(TStrEntry), kSubfolderTableBits, 0, &subfolder_entries_);
  TLeftoverHint leftovers{false, false};
  WalkSubfolders(*this, run_, depth, folder, listing, subfolders, &leftovers);
  TStringManager images(sizeof(TImageEntry), kImageTableBits, 0, &image_entries_);
  const std::vector<const char*> patterns = WalkPatterns(run_.options);
  listing.Restart(patterns.data(), patterns.size());
  CollectImages(run_, folder, listing, images);
  if (AlbumImageOrder(album.text, run_.options.order) == kOrderDate) ReadImageDates(images, folder);

  // A stop request seen at any point of this folder's walk (in a subfolder,
  // or while listing its own entries) leaves the lists incomplete: pages
  // from them would replace good pages with partial ones.
  if (run_.Terminated()) {
    current_ = frame.parent;
    return 0;
  }
  // A folder gets pages when it holds images, or subfolders with images and
  // hierarchy links are on; only then does a kept first page count.
  const bool paged = images.TotalEntries() > 0 || (subfolders.TotalEntries() > 0 && run_.options.hlinks != 0);
  TFolderPlace place = PlaceInTree(folder);
  place.leftovers = leftovers;
  std::string output;
  bool writable = true;
  if (has_output_) {
    output = OutputFolderOf(folder);
    place.output = output.c_str();
    place.leftovers = TLeftoverHint{};  // the listing was of the source folder
    if (paged) {
      writable = PrepareOutputFolder(run_, place, images, output_real_);
    } else {
      // Only pruning happens there: never through a link out of the output folder.
      char output_real[PATH_MAX];
      writable = !ResolvePath(place.output, output_real, sizeof output_real) ||
                 IsPathWithin(output_real, output_real_);
    }
  }
  // From here every write of the folder goes through one handle of it, the
  // folder the walk listed: swapped for a link meanwhile, it is not written.
  std::optional<TFolderPin> pin;
  if (writable) {
    struct stat output_info;
    if (has_output_ && ::stat(place.output, &output_info) == 0) {
      pin.emplace(place.output, output_info.st_dev, output_info.st_ino);
    } else if (!has_output_) {
      pin.emplace(place.output, device, inode);
    }
    writable = pin.has_value() && pin->Pinned();
    if (!writable && paged) {
      run_.report.AddFailure(TRunFailure::kPage, place.output, 0, "the folder was replaced while the run was in it");
    }
  }
  if (writable) {
    const char* first = ChooseFirstPage(run_, place.output, paged);
    if (run_.options.style == 1) {
      WriteModernFolderPages(run_, *theme_, covers_, search_, album, depth, place, first, subfolders, images);
    } else {
      WriteFolderPages(run_, depth, place, first, subfolders, images);
    }
  }

  int64_t total = images.TotalEntries();
  for (const TStrEntry* e = subfolders.Walk(); e != nullptr; e = e->walk) total += e->count;
  const int32_t result = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);

  current_ = frame.parent;
  RememberDone(frame.device, frame.inode, result);
  return result;
}

bool TFolderWalk::MayEnterLink(const char* path) {
  if (run_.options.followlinks != 0) return true;
  char target[PATH_MAX];
  if (root_real_[0] != '\0' && ResolvePath(path, target, sizeof target) &&
      IsPathWithin(target, root_real_)) {
    return true;
  }
  run_.report.AddWarning(TRunWarning::kNotEntered, path, 0,
                            "a symbolic link to a folder outside the starting folder");
  return false;
}

void TFolderWalk::ListSubfolders(int32_t depth, const char* folder, const char* pattern,
                                 TStringManager& table) {
  TDirListing listing(folder, pattern);
  WalkSubfolders(*this, run_, depth, folder, listing, table);
}

void TFolderWalk::ListImages(const char* folder, const char* pattern, TStringManager& table) {
  TDirListing listing(folder, pattern);
  CollectImages(run_, folder, listing, table);
}
