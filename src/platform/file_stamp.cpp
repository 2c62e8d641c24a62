#include "platform/file_stamp.h"

namespace {

int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

}  // namespace

TFileStamp FileStampOf(const struct stat& info) {
  TFileStamp stamp;
  stamp.size = static_cast<int64_t>(info.st_size);
  stamp.mtime_ns = Nanoseconds(info.st_mtim);
  stamp.inode = static_cast<int64_t>(info.st_ino);
  stamp.ctime_ns = Nanoseconds(info.st_ctim);
  return stamp;
}

bool ReadFileStamp(const char* path, TFileStamp* stamp) {
  *stamp = TFileStamp{};
  struct stat info;
  if (path == nullptr || ::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *stamp = FileStampOf(info);
  return true;
}

bool ReadFileStampNoFollow(const char* path, TFileStamp* stamp) {
  *stamp = TFileStamp{};
  struct stat info;
  if (path == nullptr || ::lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *stamp = FileStampOf(info);
  return true;
}
