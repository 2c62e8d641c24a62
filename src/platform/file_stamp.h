#pragma once
// The state of a file as the file system reports it: size, modification
// time, inode and change time. Every record that asks "is this still the
// file we saw" (thumbnail and modern manifests, the page record, the
// originals record, the image record) keeps this one stamp.

#include <sys/stat.h>

#include <cstdint>

struct TFileStamp {
  int64_t size = -1;
  int64_t mtime_ns = 0;
  int64_t inode = 0;
  int64_t ctime_ns = 0;
  bool operator==(const TFileStamp&) const = default;
};

// The stamp of the file `info` describes.
TFileStamp FileStampOf(const struct stat& info);

// The regular file at `path` (links followed); false, with `stamp` reset,
// when there is none.
bool ReadFileStamp(const char* path, TFileStamp* stamp);

// The regular file at `path` itself (a link is not followed); false, with
// `stamp` reset, when there is none.
bool ReadFileStampNoFollow(const char* path, TFileStamp* stamp);

// Same size and modification time: what a record that keeps only these two
// compares (a copy or a rewritten file gets a new inode and change time).
inline bool SameSizeAndTime(const TFileStamp& a, const TFileStamp& b) {
  return a.size == b.size && a.mtime_ns == b.mtime_ns;
}
