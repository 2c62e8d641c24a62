#include "platform/dir_listing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

TDirListing::TDirListing(const char* folder, const char* pattern)
    : pattern_(pattern != nullptr ? pattern : "*") {
  dir_ = ::opendir(folder == nullptr || folder[0] == '\0' ? "." : folder);
  if (dir_ == nullptr) open_error_ = errno != 0 ? errno : EIO;
}

TDirListing::~TDirListing() {
  if (dir_ != nullptr) ::closedir(dir_);
}

bool TDirListing::Identity(dev_t* device, ino_t* inode) const {
  struct stat info;
  if (dir_ == nullptr || ::fstat(::dirfd(dir_), &info) != 0) return false;
  *device = info.st_dev;
  *inode = info.st_ino;
  return true;
}

void TDirListing::Restart(const char* const* patterns, size_t count) {
  patterns_ = patterns;
  pattern_count_ = count;
  // Rewinding makes the next read see the folder as it is now.
  if (dir_ != nullptr) ::rewinddir(dir_);
}

bool TDirListing::Matches(const char* name) const {
  if (patterns_ == nullptr) return WildcardMatch(pattern_.c_str(), name);
  for (size_t i = 0; i < pattern_count_; ++i) {
    if (WildcardMatch(patterns_[i], name)) return true;
  }
  return false;
}

bool TDirListing::Next() {
  if (dir_ == nullptr) return false;
  while (const dirent* entry = ::readdir(dir_)) {
    if (!Matches(entry->d_name)) continue;
    name_ = entry->d_name;
    is_directory_ = false;
    is_regular_file_ = false;
    is_link_ = entry->d_type == DT_LNK;
    if (entry->d_type == DT_DIR) {
      is_directory_ = true;
    } else if (entry->d_type == DT_REG) {
      is_regular_file_ = true;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      // Links are followed; a dangling link is neither.
      struct stat info;
      if (entry->d_type == DT_UNKNOWN && ::fstatat(::dirfd(dir_), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        is_link_ = S_ISLNK(info.st_mode);
      }
      if (::fstatat(::dirfd(dir_), entry->d_name, &info, 0) == 0) {
        is_directory_ = S_ISDIR(info.st_mode);
        is_regular_file_ = S_ISREG(info.st_mode);
      }
    }
    return true;
  }
  return false;
}

namespace {

// Letters match without regard to case, in ASCII: bytes beyond it are parts
// of UTF-8 characters and match only themselves (as toupper leaves them in
// the C and UTF-8 locales), without a library call per byte.
bool SameLetter(char a, char b) {
  if (a == b) return true;
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return upper(a) == upper(b);
}

}  // namespace

bool WildcardMatch(const char* pattern, const char* name) {
  // "*.*" stands for every name, with or without a dot.
  if (std::strcmp(pattern, "*.*") == 0) return true;
  // Greedy match with one backtrack point: linear in practice, never exponential.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern != '\0' && (*pattern == '?' || SameLetter(*pattern, *name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}
