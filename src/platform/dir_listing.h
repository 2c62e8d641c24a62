#pragma once
// Directory enumeration with a Windows-style wildcard: '*' and '?', matched
// without regard to case ("*.gif" matches A.GIF; "*.*" matches every name).
// "." and ".." are yielded as Windows yields them. A symbolic link to a folder
// counts as a folder.

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

class TDirListing {
 public:
  // Opens `folder` (empty: the current folder) and matches entries against `pattern`.
  TDirListing(const char* folder, const char* pattern);
  ~TDirListing();
  TDirListing(const TDirListing&) = delete;
  TDirListing& operator=(const TDirListing&) = delete;

  bool IsOpen() const { return dir_ != nullptr; }
  // Why the folder could not be opened (an errno value); 0 when it is open.
  int OpenError() const { return open_error_; }
  // Device and inode of the listed folder; false when it is not open.
  bool Identity(dev_t* device, ino_t* inode) const;
  // Lists the folder again from its first entry, now with the names that
  // match any of the `count` patterns (which the caller keeps while the
  // listing is used): the entries the folder holds at this moment, as a
  // listing opened now would give them, without opening the folder again.
  void Restart(const char* const* patterns, size_t count);
  // Advances to the next matching entry; false at the end.
  bool Next();
  const char* Name() const { return name_.c_str(); }
  bool IsDirectory() const { return is_directory_; }
  // A regular file (links followed): what may be listed as an image.
  bool IsRegularFile() const { return is_regular_file_; }
  // The entry itself is a symbolic link (what it leads to decides the two above).
  bool IsLink() const { return is_link_; }

 private:
  bool Matches(const char* name) const;

  DIR* dir_ = nullptr;
  std::string pattern_;
  const char* const* patterns_ = nullptr;  // when set: any of these, instead of pattern_
  size_t pattern_count_ = 0;
  std::string name_;
  bool is_directory_ = false;
  bool is_regular_file_ = false;
  bool is_link_ = false;
  int open_error_ = 0;
};

// Case-insensitive Windows-style wildcard match.
bool WildcardMatch(const char* pattern, const char* name);
