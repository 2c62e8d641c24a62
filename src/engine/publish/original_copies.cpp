#include "engine/publish/original_copies.h"

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
#include <vector>

#include "engine/store/generated_names.h"
#include "imagein/format_table.h"
#include "imagein/photo_text.h"
#include "platform/atomic_file.h"
#include "platform/file_stamp.h"
#include "platform/folder_handle.h"
#include "platform/real_path.h"
#include "support/path_util.h"

namespace {

constexpr const char* kRecordHeader = "vellumcast originals 1\n";
constexpr size_t kCopyBlock = 1 << 16;
// A record lists one line per original of a folder: far below this.
constexpr size_t kMaxRecordBytes = size_t{64} << 20;
// A copy whose location is taken out is made in memory: larger files are not published.
constexpr uint64_t kMaxStrippedCopyBytes = uint64_t{512} << 20;

constexpr int64_t kNanosecondsPerSecond = 1000000000;

// The record keeps a copy's size and modification time; those two are what
// is compared.
using TRecord = std::map<std::string, TFileStamp>;

bool SameCopy(const TFileStamp& stamp, const struct stat& info) {
  return SameSizeAndTime(stamp, FileStampOf(info));
}

bool RecordPath(char* out, size_t capacity, const char* folder) {
  return PathJoin(out, capacity, kMaxPath, folder, kOriginalsRecordFile);
}

// A plain file name: no separator, not "." or "..", no line break.
// A name holding a NUL would name one file to the record and another (its
// part before the NUL) to the file system: never an entry.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\n') == std::string::npos && name.find('\0') == std::string::npos;
}

// Lines "<size> <seconds> <nanoseconds> <name>" after the header; a record
// without the header, or a line that does not parse, lists nothing.
TRecord ReadRecord(const char* folder) {
  TRecord record;
  char path[kPathBufferSize];
  std::string text;
  std::string error;
  if (!RecordPath(path, sizeof path, folder) ||
      !ReadWholeRegularFile(path, kMaxRecordBytes, TLinkRule::kRefuse, &text, &error)) {
    return record;
  }
  const size_t header = std::strlen(kRecordHeader);
  if (text.compare(0, header, kRecordHeader) != 0) return record;
  size_t at = header;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a cut last line is not trusted
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    TFileStamp stamp;
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%" SCNd64 " %" SCNd64 " %" SCNd64 " %n", &stamp.size, &seconds, &nanoseconds,
                    &consumed) != 3 || consumed <= 0) {
      continue;
    }
    // A time no file system gives (it could not match a file) is not kept.
    if (nanoseconds < 0 || nanoseconds >= kNanosecondsPerSecond || seconds > INT64_MAX / kNanosecondsPerSecond ||
        seconds < INT64_MIN / kNanosecondsPerSecond + 1) {
      continue;
    }
    stamp.mtime_ns = seconds * kNanosecondsPerSecond + nanoseconds;
    const std::string name = line.substr(static_cast<size_t>(consumed));
    // Runs place images only: an entry naming any other file (a page, a
    // user's notes) is not theirs, whatever its stamp, and is never removed.
    if (IsPlainName(name) && FormatOfPath(name.c_str()) != nullptr) record[name] = stamp;
  }
  return record;
}

std::string RecordText(const TRecord& record) {
  std::string text = kRecordHeader;
  char numbers[96];
  for (const auto& [name, stamp] : record) {
    // Seconds rounded down, so the nanoseconds stay within 0..999999999 before 1970 too.
    int64_t seconds = stamp.mtime_ns / kNanosecondsPerSecond;
    int64_t nanoseconds = stamp.mtime_ns % kNanosecondsPerSecond;
    if (nanoseconds < 0) {
      seconds -= 1;
      nanoseconds += kNanosecondsPerSecond;
    }
    std::snprintf(numbers, sizeof numbers, "%" PRId64 " %" PRId64 " %" PRId64 " ", stamp.size, seconds, nanoseconds);
    text += numbers;
    text += name;
    text += '\n';
  }
  return text;
}

bool SaveRecord(const char* folder, const TRecord& record) {
  char path[kPathBufferSize];
  if (!RecordPath(path, sizeof path, folder)) return false;
  if (record.empty()) {
    struct stat info;
    if (::lstat(path, &info) == 0 && S_ISREG(info.st_mode)) RemoveFileInFolder(path);
    return true;
  }
  // An unchanged record is not rewritten (it keeps its date).
  const std::string text = RecordText(record);
  return WriteFileIfChanged(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Copies `source` into the started file `out` with the source's times.
// False on any failure.
bool CopyInto(const char* source, TAtomicFile& out, int* error) {
  // A linked photo is copied as the file it leads to (PlaceOriginals checked where).
  const int in = ::open(source, O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *error = errno;
    return false;
  }
  char* block = static_cast<char*>(std::malloc(kCopyBlock));
  bool ok = block != nullptr;
  if (!ok) *error = ENOMEM;
  while (ok) {
    const ssize_t got = ::read(in, block, kCopyBlock);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) break;
    if (got < 0) {
      *error = errno;
      ok = false;
    } else if (!out.Write(block, static_cast<size_t>(got))) {
      *error = out.Error();
      ok = false;
    }
  }
  std::free(block);
  struct stat info;
  const int fd = ok ? out.Descriptor() : -1;
  if (fd >= 0 && ::fstat(in, &info) == 0) {
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(fd, times);
  }
  ::close(in);
  return ok;
}

// Copies `source` into `out` without its GPS tags, with the source's times.
bool CopyWithoutLocation(const char* source, TAtomicFile& out, int* error, const char** reason) {
  std::FILE* in = OpenRegularFileForReading(source);
  if (in == nullptr) {
    *error = errno;
    return false;
  }
  struct stat info;
  if (::fstat(fileno(in), &info) != 0 || info.st_size <= 0 ||
      static_cast<uint64_t>(info.st_size) > kMaxStrippedCopyBytes) {
    std::fclose(in);
    *reason = "not placed in the output folder: too large to take its location out";
    return false;
  }
  const size_t size = static_cast<size_t>(info.st_size);
  uint8_t* data = static_cast<uint8_t*>(std::malloc(size));
  const bool read = data != nullptr && std::fread(data, 1, size, in) == size;
  std::fclose(in);
  std::vector<uint8_t> stripped;
  const bool made = read && StripPhotoLocation(data, size, &stripped);
  std::free(data);
  if (!made) {
    *reason = read ? "not placed in the output folder: its location cannot be taken out" : nullptr;
    if (!read) *error = data == nullptr ? ENOMEM : EIO;
    return false;
  }
  if (!out.Write(stripped.data(), stripped.size())) {
    *error = out.Error();
    return false;
  }
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  ::futimens(out.Descriptor(), times);
  return true;
}

// Puts the original at `target`: a hard link when asked for and possible,
// else a copy (without its GPS tags when `strip`), through a temporary name
// in the target's folder. False with `error` (or `reason`) set on failure.
bool PlaceOne(const char* source, const char* target, bool hard_link, bool strip, int* error, const char** reason) {
  TFolderHandle folder;
  const char* name = nullptr;
  if (!OpenParentFolder(target, false, &folder, &name)) {
    *error = errno;
    return false;
  }
  if (hard_link) {
    char temporary[kPathBufferSize];
    bool link_refused = false;
    if (MakeTemporaryName(temporary, sizeof temporary, name) &&
        ::linkat(AT_FDCWD, source, folder.Descriptor(), temporary, AT_SYMLINK_FOLLOW) == 0) {
      if (RenameIntoPlace(folder, temporary, name, &link_refused)) return true;
      *error = errno;
      return false;
    }
  }
  TAtomicFile file;
  if (!file.Create(folder, name, false)) {
    *error = file.Error();
    return false;
  }
  if (strip ? !CopyWithoutLocation(source, file, error, reason) : !CopyInto(source, file, error)) return false;
  if (file.Commit()) return true;
  *error = file.Error();
  return false;
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

void PlaceOriginals(TIndexRun& run, TFolderPlace& place, TStringManager& images) {
  place.local.clear();
  const bool hard_link = run.options.images == kImagesHardLink;
  const bool strip = run.options.images == kImagesCopy && run.options.striplocation;
  const TRecord old = ReadRecord(place.output);
  char root_real[PATH_MAX];
  if (!ResolvePath(run.options.path.c_str(), root_real, sizeof root_real)) root_real[0] = '\0';
  TRecord now;
  std::set<std::string> listed;
  char source[kPathBufferSize];
  char target[kPathBufferSize];
  for (const TStrEntry* e = images.Walk(); e != nullptr && !run.Terminated(); e = e->walk) {
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
    if (run.options.followlinks == 0 && ::lstat(source, &entry) == 0 && S_ISLNK(entry.st_mode)) {
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
                        (SameCopy(recorded->second, there) ||
                         (there.st_dev == from.st_dev && there.st_ino == from.st_ino));
      if (!ours) continue;
      // The same file (a hard link), or a copy with the source's size and time.
      // A copy without its location keeps the source's time but not its size
      // (the tags went); a plain copy keeps both. Switching --strip-location
      // therefore makes every copy again.
      current = strip ? there.st_mtim.tv_sec == from.st_mtim.tv_sec && there.st_mtim.tv_nsec == from.st_mtim.tv_nsec &&
                            there.st_size != from.st_size && !(there.st_dev == from.st_dev && there.st_ino == from.st_ino)
                      : (there.st_dev == from.st_dev && there.st_ino == from.st_ino) ||
                            SameCopy(FileStampOf(from), there);
    }
    if (!current) {
      int error = 0;
      const char* reason = nullptr;
      if (!PlaceOne(source, target, hard_link, strip, &error, &reason)) {
        run.report.AddWarning(TRunWarning::kUnreadable, source, error,
                              reason != nullptr ? reason : "not placed in the output folder: linked");
        // An old copy that could not be replaced is stale: no longer recorded as current.
        if (present) now[name] = recorded->second;
        continue;
      }
      if (::lstat(target, &there) != 0) continue;
    }
    now[name] = FileStampOf(there);
    place.local.push_back(name);
  }
  // Originals recorded earlier whose images are no longer listed: removed
  // with pruning (when still as placed), otherwise kept on the record.
  for (const auto& [name, stamp] : old) {
    if (now.count(name) != 0) continue;
    if (!run.Terminated() && run.options.prune != 0 && listed.count(name) == 0 &&
        PathJoin(target, sizeof target, kMaxPath, place.output, name.c_str())) {
      struct stat there;
      if (::lstat(target, &there) != 0) continue;
      if (S_ISREG(there.st_mode) && SameCopy(stamp, there)) {
        RemoveFileInFolder(target);
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
    if (::lstat(path, &info) != 0 || !S_ISREG(info.st_mode) || !SameCopy(stamp, info)) continue;
    paths.emplace_back(path);
  }
  return paths;
}
