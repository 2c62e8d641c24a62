#include "engine/clean.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/generated_names.h"
#include "platform/dir_listing.h"
#include "support/path_util.h"

namespace {

constexpr const char* kAllNamesPattern = "*.*";

// Paths are at most kMaxPath characters. A longer path is skipped, never cut,
// so a shortened path can never name another file.
using TCleanPath = char[kPathBufferSize];

bool NameContains(const char* name, const char* part) { return std::strstr(name, part) != nullptr; }

// The names runs write: catalog pages, back-link pages and thumbnails (and
// the temporary files of pages being written). Case-sensitive substring
// tests on the entry's own name only.
bool IsGeneratedFileName(const char* name) {
  return (NameContains(name, "vellumcast") && NameContains(name, ".html")) ||
         (NameContains(name, "imageback") && NameContains(name, ".html")) ||
         (NameContains(name, "quarto_tn") && NameContains(name, ".jpg"));
}

bool IsThumbnailFolderName(const char* name) { return NameContains(name, "quarto_tn"); }

// True when the last name of `folder` is the thumbnail folder's: there the
// per-image thumbnails, web copies and their manifest are generated files too.
bool IsInThumbnailFolder(const char* folder) {
  const char* slash = std::strrchr(folder, kPathSeparator);
  return ::strcasecmp(slash == nullptr ? folder : slash + 1, kThumbnailFolder) == 0;
}

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

void CleanFolder(const char* folder, TCleanResult& result);

// One directory entry. lstat decides what the entry itself is, so a symbolic
// link is neither followed into a folder nor deleted: the clean-up never acts
// on anything outside the tree it was given.
void CleanEntry(const char* folder, const char* name, TCleanResult& result) {
  TCleanPath entry_path;
  if (!JoinCleanPath(entry_path, folder, name)) return;
  struct stat info;
  if (lstat(entry_path, &info) != 0) return;

  if (S_ISDIR(info.st_mode)) {
    CleanFolder(entry_path, result);
    // rmdir succeeds only on an empty folder: one holding user files stays.
    if (IsThumbnailFolderName(name) && rmdir(entry_path) == 0) CountOne(result.folders_removed);
    return;
  }
  if (!S_ISREG(info.st_mode)) return;  // links, FIFOs, devices and sockets stay
  const bool generated =
      IsGeneratedFileName(name) || (IsInThumbnailFolder(folder) && IsGeneratedThumbnailFileName(name));
  if (generated && unlink(entry_path) == 0) CountOne(result.files_removed);
}

void CleanFolder(const char* folder, TCleanResult& result) {
  // The search text must fit like any other path; a folder too deep for it
  // is skipped as one that cannot be listed.
  TCleanPath search_text;
  if (!JoinCleanPath(search_text, folder, kAllNamesPattern)) return;

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
      CleanEntry(folder, name, result);
    }
  }
  for (const char* name = subfolders.First(); name != nullptr; name = subfolders.Next(name)) {
    CleanEntry(folder, name, result);
  }
}

}  // namespace

TCleanResult DeleteGenerated(const char* folder) {
  TCleanResult result;
  if (folder == nullptr) return result;
  if (std::strlen(folder) > kMaxPath) return result;
  CleanFolder(folder, result);
  return result;
}
