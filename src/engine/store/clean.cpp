#include "engine/store/clean.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/store/generated_names.h"
#include "engine/store/page_record.h"
#include "engine/publish/original_copies.h"
#include "platform/dir_listing.h"
#include "support/path_util.h"

namespace {

constexpr const char* kAllNamesPattern = "*.*";

// Paths are at most kMaxPath characters. A longer path is skipped, never cut,
// so a shortened path can never name another file.
using TCleanPath = char[kPathBufferSize];

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool JoinCleanPath(TCleanPath& out, const char* folder, const char* name) {
  return PathJoin(out, sizeof out, kMaxPath, folder, name);
}

void CountOne(int32_t& counter) {
  if (counter < INT32_MAX) ++counter;
}

// The subfolder names of one folder, NUL-separated in one growing block, so
// that the folder's listing can be closed before its subfolders are cleaned:
// one listing is open at a time however deep the tree, so a deep tree
// cannot run out of file descriptors halfway.
class TNameList {
 public:
  TNameList() = default;
  ~TNameList() { std::free(data_); }
  TNameList(const TNameList&) = delete;
  TNameList& operator=(const TNameList&) = delete;

  // False when memory runs out; the list is unchanged then.
  bool Add(const char* name) {
    const size_t length = std::strlen(name) + 1;
    if (length > SIZE_MAX / 2 - size_) return false;
    const size_t needed = size_ + length;
    if (needed > capacity_) {
      const size_t capacity = needed < 128 ? 256 : needed * 2;
      char* grown = static_cast<char*>(std::realloc(data_, capacity));
      if (grown == nullptr) return false;
      data_ = grown;
      capacity_ = capacity;
    }
    std::memcpy(data_ + size_, name, length);
    size_ += length;
    return true;
  }
  const char* First() const { return size_ == 0 ? nullptr : data_; }
  const char* Next(const char* name) const {
    const char* next = name + std::strlen(name) + 1;
    return next < data_ + size_ ? next : nullptr;
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// One clean-up: its options, its counts.
struct TCleanWalk {
  const TCleanOptions& options;
  TCleanResult result;
};

// True when the entry went (in a dry run: would go).
bool Remove(TCleanWalk& walk, const char* path, bool is_folder) {
  if (!walk.options.dry_run && (is_folder ? rmdir(path) : unlink(path)) != 0) return false;
  CountOne(is_folder ? walk.result.folders_removed : walk.result.files_removed);
  if (walk.options.on_remove != nullptr) walk.options.on_remove(path, is_folder, walk.options.context);
  return true;
}

// The first page under a name of the user's choosing (index.html), or one of
// its temporary names: generated only when the page says so itself.
bool IsOtherFirstPage(const char* name, const char* path, const char* firstpage) {
  if (firstpage == nullptr || *firstpage == '\0' || IsCatalogPageName(firstpage)) return false;
  const size_t length = std::strlen(firstpage);
  size_t base = 0;
  const bool named = strcasecmp(name, firstpage) == 0 ||
                     (HasTemporarySuffix(name, &base) && base == length && strncasecmp(name, firstpage, length) == 0);
  return named && IsGeneratedPageContent(path);
}

void CleanCatalogFolder(TCleanWalk& walk, const char* folder, bool thumbnails_too = false);

// What the folder's page record shows runs wrote there (a first page such as
// index.html among them), where the file is still the one the run left.
bool IsRecordedPage(const TPageRecord& record, const char* folder, const char* name) {
  return record.Present() && record.Holds(folder, name);
}

// A thumbnail folder: only the files runs put there go, and the folder goes
// with them when the clean-up emptied it. Runs write nothing in a folder
// below it, so none is entered.
void CleanThumbnailFolder(TCleanWalk& walk, const char* folder) {
  bool removed = false;
  bool kept = false;
  {
    TDirListing listing(folder, kAllNamesPattern);
    if (!listing.IsOpen()) return;
    while (listing.Next()) {
      const char* name = listing.Name();
      if (IsDotEntry(name)) continue;
      TCleanPath path;
      struct stat info;
      if (!JoinCleanPath(path, folder, name) || lstat(path, &info) != 0 || !S_ISREG(info.st_mode) ||
          !IsGeneratedThumbnailFileName(name) || !Remove(walk, path, false)) {
        kept = true;
        continue;
      }
      removed = true;
    }
  }
  if (removed && !kept) Remove(walk, folder, true);
}

// One directory entry of a catalog folder. lstat decides what the entry
// itself is, so a symbolic link is neither followed into a folder nor
// deleted: the clean-up never acts on anything outside the tree it was given.
void CleanEntry(TCleanWalk& walk, const char* folder, const char* name, bool thumbnails_too,
                const TPageRecord& record) {
  TCleanPath entry_path;
  if (!JoinCleanPath(entry_path, folder, name)) return;
  struct stat info;
  if (lstat(entry_path, &info) != 0) return;

  if (S_ISDIR(info.st_mode)) {
    if (IsThumbnailFolderName(name)) {
      CleanThumbnailFolder(walk, entry_path);
    } else {
      CleanCatalogFolder(walk, entry_path);
    }
    return;
  }
  if (!S_ISREG(info.st_mode)) return;  // links, FIFOs, devices and sockets stay
  if (IsGeneratedFolderFileName(name) || (thumbnails_too && IsGeneratedThumbnailFileName(name)) ||
      IsRecordedPage(record, folder, name) || IsOtherFirstPage(name, entry_path, walk.options.firstpage)) {
    Remove(walk, entry_path, false);
  }
}

// `thumbnails_too`: the starting folder is itself named like a thumbnail
// folder, so it may hold thumbnails (from a run one level up) as well as
// pages (from a run started in it).
void CleanCatalogFolder(TCleanWalk& walk, const char* folder, bool thumbnails_too) {
  // The search text must fit like any other path; a folder too deep for it
  // is skipped as one that cannot be listed.
  TCleanPath search_text;
  if (!JoinCleanPath(search_text, folder, kAllNamesPattern)) return;

  // Originals that runs placed here (an output folder) go before the record that lists them.
  for (const std::string& path : RecordedOriginalsInPlace(folder)) Remove(walk, path.c_str(), false);

  // Read before the listing, which removes the record with the other generated files.
  TPageRecord record;
  record.Read(folder);
  TNameList subfolders;
  {
    TDirListing listing(folder, kAllNamesPattern);
    if (!listing.IsOpen()) return;
    while (listing.Next()) {
      const char* name = listing.Name();
      if (IsDotEntry(name)) continue;
      // Folders wait until the listing is closed; without memory to note
      // one, it is cleaned at once.
      if (listing.IsDirectory() && subfolders.Add(name)) continue;
      CleanEntry(walk, folder, name, thumbnails_too, record);
    }
  }
  for (const char* name = subfolders.First(); name != nullptr; name = subfolders.Next(name)) {
    CleanEntry(walk, folder, name, thumbnails_too, record);
  }
}

}  // namespace

TCleanResult DeleteGenerated(const char* folder, const TCleanOptions& options) {
  TCleanWalk walk{options, TCleanResult()};
  if (folder == nullptr) return walk.result;
  if (std::strlen(folder) > kMaxPath) return walk.result;
  // The folder given is a catalog folder whatever its name, and is never removed.
  TCleanPath start;
  size_t length = std::strlen(folder);
  std::memcpy(start, folder, length + 1);
  while (length > 1 && start[length - 1] == kPathSeparator) start[--length] = '\0';
  CleanCatalogFolder(walk, folder, IsThumbnailFolderName(PathFileName(start)));
  return walk.result;
}
