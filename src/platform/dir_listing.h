#pragma once
// Directory enumeration with a Windows-style wildcard: '*' and '?', matched
// without regard to case ("*.gif" matches A.GIF; "*.*" matches every name).
// "." and ".." are yielded as Windows yields them. A symbolic link to a folder
// counts as a folder.

#include <dirent.h>

#include <string>

class TDirListing {
 public:
  // Opens `folder` (empty: the current folder) and matches entries against `pattern`.
  TDirListing(const char* folder, const char* pattern);
  ~TDirListing();
  TDirListing(const TDirListing&) = delete;
  TDirListing& operator=(const TDirListing&) = delete;

  bool IsOpen() const { return dir_ != nullptr; }
  // Advances to the next matching entry; false at the end.
  bool Next();
  const char* Name() const { return name_.c_str(); }
  bool IsDirectory() const { return is_directory_; }
  // A regular file (links followed): what may be listed as an image.
  bool IsRegularFile() const { return is_regular_file_; }

 private:
  DIR* dir_ = nullptr;
  std::string folder_;
  std::string pattern_;
  std::string name_;
  bool is_directory_ = false;
  bool is_regular_file_ = false;
};

// Case-insensitive Windows-style wildcard match.
bool WildcardMatch(const char* pattern, const char* name);
