#include "engine/original_copies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "engine/generated_names.h"
#include "platform/real_path.h"
#include "raster/jpeg_memory_writer.h"
#include "support/path_util.h"

namespace {

constexpr const char* kRecordHeader = "vellumcast originals 1\n";
constexpr size_t kCopyBlock = 1 << 16;

struct TStamp {
  int64_t size = 0;
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
  bool operator==(const TStamp& other) const {
    return size == other.size && seconds == other.seconds && nanoseconds == other.nanoseconds;
  }
};

TStamp StampOf(const struct stat& info) {
  return TStamp{static_cast<int64_t>(info.st_size), static_cast<int64_t>(info.st_mtim.tv_sec),
                static_cast<int64_t>(info.st_mtim.tv_nsec)};
}

using TRecord = std::map<std::string, TStamp>;

bool RecordPath(char* out, size_t capacity, const char* folder) {
  return PathJoin(out, capacity, kMaxPath, folder, kOriginalsRecordFile);
}

bool ReadWhole(const char* path, std::string* text) {
  const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  char block[8192];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ::close(fd);
      return got == 0;
    }
    text->append(block, static_cast<size_t>(got));
  }
}

// A plain file name: no separator, not "." or "..", no line break.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\n') == std::string::npos;
}

// Lines "<size> <seconds> <nanoseconds> <name>" after the header; a record
// without the header, or a line that does not parse, lists nothing.
TRecord ReadRecord(const char* folder) {
  TRecord record;
  char path[kPathBufferSize];
  std::string text;
  if (!RecordPath(path, sizeof path, folder) || !ReadWhole(path, &text)) return record;
  const size_t header = std::strlen(kRecordHeader);
  if (text.compare(0, header, kRecordHeader) != 0) return record;
  size_t at = header;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a cut last line is not trusted
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    TStamp stamp;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%" SCNd64 " %" SCNd64 " %" SCNd64 " %n", &stamp.size, &stamp.seconds,
                    &stamp.nanoseconds, &consumed) != 3 || consumed <= 0) {
      continue;
    }
    const std::string name = line.substr(static_cast<size_t>(consumed));
    if (IsPlainName(name)) record[name] = stamp;
  }
  return record;
}

std::string RecordText(const TRecord& record) {
  std::string text = kRecordHeader;
  char numbers[96];
  for (const auto& [name, stamp] : record) {
    std::snprintf(numbers, sizeof numbers, "%" PRId64 " %" PRId64 " %" PRId64 " ", stamp.size, stamp.seconds,
                  stamp.nanoseconds);
    text += numbers;
    text += name;
    text += '\n';
  }
  return text;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool SaveRecord(const char* folder, const TRecord& record) {
  char path[kPathBufferSize];
  if (!RecordPath(path, sizeof path, folder)) return false;
  if (record.empty()) {
    struct stat info;
    if (::lstat(path, &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path);
    return true;
  }
  // An unchanged record is not rewritten (it keeps its date).
  const std::string text = RecordText(record);
  return WriteFileIfChanged(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Copies `source` to `temporary` (a new file) with the source's times. False,
// with no file left, on any failure.
bool CopyFile(const char* source, const char* temporary, int* error) {
  // A linked photo is copied as the file it leads to (PlaceOriginals checked where).
  const int in = ::open(source, O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *error = errno;
    return false;
  }
  const int out = ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (out < 0) {
    *error = errno;
    ::close(in);
    return false;
  }
  char* block = static_cast<char*>(std::malloc(kCopyBlock));
  bool ok = block != nullptr;
  if (!ok) *error = ENOMEM;
  while (ok) {
    const ssize_t got = ::read(in, block, kCopyBlock);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) break;
    if (got < 0 || !WriteAll(out, block, static_cast<size_t>(got))) {
      *error = errno;
      ok = false;
    }
  }
  std::free(block);
  struct stat info;
  if (ok && ::fstat(in, &info) == 0) {
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(out, times);
  }
  ::close(in);
  if (::close(out) != 0 && ok) {
    *error = errno;
    ok = false;
  }
  if (!ok) ::unlink(temporary);
  return ok;
}

// Puts the original at `target`: a hard link when asked for and possible,
// else a copy, through a temporary name. False with `error` set on failure.
bool PlaceOne(const char* source, const char* target, bool hard_link, int* error) {
  char temporary[kPathBufferSize];
  const int length = std::snprintf(temporary, sizeof temporary, "%s.tmp%d-1", target, static_cast<int>(::getpid()));
  if (length < 0 || static_cast<size_t>(length) >= sizeof temporary) {
    *error = ENAMETOOLONG;
    return false;
  }
  ::unlink(temporary);  // a leftover of this same process id
  bool made = hard_link && ::linkat(AT_FDCWD, source, AT_FDCWD, temporary, AT_SYMLINK_FOLLOW) == 0;
  if (!made) made = CopyFile(source, temporary, error);
  if (!made) return false;
  if (::rename(temporary, target) != 0) {
    *error = errno;
    ::unlink(temporary);
    return false;
  }
  return true;
}

}  // namespace

bool ParseImagesMode(const char* text, int32_t* mode) {
  if (text == nullptr) return false;
  const std::string value = text;
  if (value == "link" || value == "0") {
    *mode = kImagesLink;
  } else if (value == "copy" || value == "1") {
    *mode = kImagesCopy;
  } else if (value == "hardlink" || value == "hard link" || value == "2") {
    *mode = kImagesHardLink;
  } else {
    return false;
  }
  return true;
}

const char* ImagesModeName(int32_t mode) {
  return mode == kImagesCopy ? "copy" : mode == kImagesHardLink ? "hardlink" : "link";
}

void PlaceOriginals(TThreadVellumcast& worker, TFolderPlace& place, TStringManager& images) {
  place.local.clear();
  const bool hard_link = worker.images == kImagesHardLink;
  const TRecord old = ReadRecord(place.output);
  char root_real[PATH_MAX];
  if (!ResolvePath(worker.path.c_str(), root_real, sizeof root_real)) root_real[0] = '\0';
  TRecord now;
  std::set<std::string> listed;
  char source[kPathBufferSize];
  char target[kPathBufferSize];
  for (const TStrEntry* e = images.Walk(); e != nullptr && !worker.Terminated(); e = e->walk) {
    const std::string name = e->name;
    listed.insert(name);
    if (!IsPlainName(name) || !PathJoin(source, sizeof source, kMaxPath, place.source, e->name) ||
        !PathJoin(target, sizeof target, kMaxPath, place.output, e->name)) {
      continue;
    }
    struct stat from;
    if (::stat(source, &from) != 0 || !S_ISREG(from.st_mode)) continue;
    // A photo that is a link out of the tree is not published by copy unless
    // links are followed: it stays a link into the tree.
    struct stat entry;
    if (worker.followlinks == 0 && ::lstat(source, &entry) == 0 && S_ISLNK(entry.st_mode)) {
      char target_real[PATH_MAX];
      if (root_real[0] == '\0' || !ResolvePath(source, target_real, sizeof target_real) ||
          !IsPathWithin(target_real, root_real)) {
        continue;
      }
    }
    struct stat there;
    const bool present = ::lstat(target, &there) == 0;
    const auto recorded = old.find(name);
    bool current = false;
    if (present) {
      // Only a regular file that a run placed and nobody changed since is ours to replace.
      const bool ours = S_ISREG(there.st_mode) && recorded != old.end() &&
                        (recorded->second == StampOf(there) ||
                         (there.st_dev == from.st_dev && there.st_ino == from.st_ino));
      if (!ours) continue;
      // The same file (a hard link), or a copy with the source's size and time.
      current = (there.st_dev == from.st_dev && there.st_ino == from.st_ino) || StampOf(there) == StampOf(from);
    }
    if (!current) {
      int error = 0;
      if (!PlaceOne(source, target, hard_link, &error)) {
        worker.report.AddWarning(TRunWarning::kUnreadable, source, error, "not placed in the output folder: linked");
        // An old copy that could not be replaced is stale: no longer recorded as current.
        if (present) now[name] = recorded->second;
        continue;
      }
      if (::lstat(target, &there) != 0) continue;
    }
    now[name] = StampOf(there);
    place.local.push_back(name);
  }
  // Originals recorded earlier whose images are no longer listed: removed
  // with pruning (when still as placed), otherwise kept on the record.
  for (const auto& [name, stamp] : old) {
    if (now.count(name) != 0) continue;
    if (!worker.Terminated() && worker.prune != 0 && listed.count(name) == 0 &&
        PathJoin(target, sizeof target, kMaxPath, place.output, name.c_str())) {
      struct stat there;
      if (::lstat(target, &there) != 0) continue;
      if (S_ISREG(there.st_mode) && StampOf(there) == stamp) {
        ::unlink(target);
        continue;
      }
    }
    now[name] = stamp;
  }
  std::sort(place.local.begin(), place.local.end());
  SaveRecord(place.output, now);
}

std::vector<std::string> RecordedOriginalsInPlace(const char* folder) {
  std::vector<std::string> paths;
  char path[kPathBufferSize];
  for (const auto& [name, stamp] : ReadRecord(folder)) {
    if (!PathJoin(path, sizeof path, kMaxPath, folder, name.c_str())) continue;
    struct stat info;
    // A file changed since it was placed is the user's now: it stays.
    if (::lstat(path, &info) != 0 || !S_ISREG(info.st_mode) || !(StampOf(info) == stamp)) continue;
    paths.emplace_back(path);
  }
  return paths;
}
