#include "engine/store/page_record.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/store/generated_names.h"
#include "platform/atomic_file.h"
#include "support/path_util.h"

namespace {

// Version 1 has "p" lines only; it is still written when there is no "d"
// line, so that a record of pages without digests stays as it was.
constexpr const char* kMagic = "vellumcast-pages 1";
constexpr const char* kMagicDigested = "vellumcast-pages 2";
// A record larger than this is refused unread.
constexpr size_t kMaxRecordBytes = size_t{64} << 20;
constexpr size_t kMaxPageName = 255;

bool ParseNumber(const char*& at, int64_t* value) {
  const char* start = at;
  bool negative = false;
  if (*at == '-') {
    negative = true;
    ++at;
  }
  if (*at < '0' || *at > '9') return false;
  int64_t n = 0;
  while (*at >= '0' && *at <= '9') {
    if (n > (INT64_MAX - 9) / 10) return false;
    n = n * 10 + (*at - '0');
    ++at;
  }
  if (at - start > 20) return false;
  *value = negative ? -n : n;
  return true;
}

bool ParseDigest(const char*& at, uint64_t* value) {
  uint64_t n = 0;
  for (int i = 0; i < 16; ++i, ++at) {
    const char c = *at;
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    n = n << 4 | static_cast<uint64_t>(digit);
  }
  *value = n;
  return true;
}

}  // namespace

bool PageRecordPath(char* out, size_t capacity, const char* folder) {
  return PathJoin(out, capacity, kMaxPath, folder, kPageRecordFile);
}

bool ReadPageStamp(const char* folder, const char* name, TFileStamp* stamp) {
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, name)) return false;
  return ReadFileStampNoFollow(path, stamp);
}

bool IsRecordablePageName(const char* name) {
  const size_t length = std::strlen(name);
  if (length == 0 || length > kMaxPageName) return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c <= 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  // The record never names itself or another store file.
  return !IsPageRecordName(name) && !IsOriginalsRecordName(name) && !IsThumbnailFolderName(name);
}

const TPageRecord::TEntry* TPageRecord::Find(const char* name) const {
  const auto found = index_.find(name);
  return found == index_.end() ? nullptr : &entries_[found->second];
}

bool TPageRecord::Holds(const char* folder, const char* name) const {
  const TEntry* entry = Find(name);
  TFileStamp now;
  return entry != nullptr && ReadPageStamp(folder, name, &now) && SameSizeAndTime(now, entry->stamp);
}

bool TPageRecord::Current(const char* folder, const char* name, uint64_t digest) const {
  const TEntry* entry = Find(name);
  if (entry == nullptr || !entry->digested || entry->digest != digest) return false;
  TFileStamp now;
  return ReadPageStamp(folder, name, &now) && now == entry->stamp;
}

void TPageRecord::Set(const std::string& name, const TFileStamp& stamp) {
  Set(TEntry{name, stamp, false, 0});
}

void TPageRecord::Set(const TEntry& entry) {
  const auto found = index_.find(entry.name);
  if (found != index_.end()) {
    entries_[found->second] = entry;
    return;
  }
  index_.emplace(entry.name, entries_.size());
  entries_.push_back(entry);
}

std::string TPageRecord::Text() const {
  std::vector<const TEntry*> sorted;
  sorted.reserve(entries_.size());
  for (const TEntry& entry : entries_) sorted.push_back(&entry);
  std::sort(sorted.begin(), sorted.end(), [](const TEntry* a, const TEntry* b) { return a->name < b->name; });
  const bool digested = std::any_of(entries_.begin(), entries_.end(), [](const TEntry& e) { return e.digested; });
  std::string text = digested ? kMagicDigested : kMagic;
  text += '\n';
  for (const TEntry* entry : sorted) {
    text += entry->digested ? "d " : "p ";
    text += std::to_string(entry->stamp.size);
    text += ' ';
    text += std::to_string(entry->stamp.mtime_ns);
    text += ' ';
    if (entry->digested) {
      char digest[24];
      std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(entry->digest));
      text += std::to_string(entry->stamp.ctime_ns);
      text += ' ';
      text += std::to_string(entry->stamp.inode);
      text += ' ';
      text += digest;
      text += ' ';
    }
    text += entry->name;
    text += '\n';
  }
  text += "end ";
  text += std::to_string(sorted.size());
  text += '\n';
  return text;
}

bool TPageRecord::Parse(const std::string& text) {
  entries_.clear();
  index_.clear();
  present_ = false;
  if (text.find('\0') != std::string::npos) return false;
  const std::string magic = std::string(kMagic) + '\n';
  const std::string magic_digested = std::string(kMagicDigested) + '\n';
  const bool digests = text.compare(0, magic_digested.size(), magic_digested) == 0;
  if (!digests && text.compare(0, magic.size(), magic) != 0) return false;
  size_t at = magic.size();
  std::vector<TEntry> parsed;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // cut inside a line
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const char* p = line.c_str();
    if (std::strncmp(p, "end ", 4) == 0) {
      p += 4;
      int64_t count = -1;
      if (!ParseNumber(p, &count) || *p != '\0' || at != text.size() ||
          count != static_cast<int64_t>(parsed.size())) {
        return false;
      }
      for (const TEntry& parsed_entry : parsed) Set(parsed_entry);
      present_ = true;
      return true;
    }
    TEntry entry;
    if (digests && std::strncmp(p, "d ", 2) == 0) {
      entry.digested = true;
    } else if (std::strncmp(p, "p ", 2) != 0) {
      return false;
    }
    p += 2;
    if (!ParseNumber(p, &entry.stamp.size) || *p++ != ' ' || !ParseNumber(p, &entry.stamp.mtime_ns) ||
        *p++ != ' ' || entry.stamp.size < 0) {
      return false;
    }
    if (entry.digested && (!ParseNumber(p, &entry.stamp.ctime_ns) || *p++ != ' ' ||
                           !ParseNumber(p, &entry.stamp.inode) || *p++ != ' ' || !ParseDigest(p, &entry.digest) ||
                           *p++ != ' ')) {
      return false;
    }
    if (!IsRecordablePageName(p)) return false;
    entry.name = p;
    parsed.push_back(std::move(entry));
  }
  return false;
}

bool TPageRecord::Read(const char* folder) {
  entries_.clear();
  index_.clear();
  present_ = false;
  char path[kPathBufferSize];
  std::string text;
  std::string error;
  if (!PageRecordPath(path, sizeof path, folder) ||
      !ReadWholeRegularFile(path, kMaxRecordBytes, TLinkRule::kRefuse, &text, &error)) {
    return false;
  }
  return Parse(text);
}

bool TPageRecord::Write(const char* folder) const {
  char path[kPathBufferSize];
  if (!PageRecordPath(path, sizeof path, folder)) return false;
  if (entries_.empty()) {
    struct stat info;
    if (::lstat(path, &info) != 0) return errno == ENOENT;
    return !S_ISREG(info.st_mode) || ::unlink(path) == 0;
  }
  // A link or anything else in the record's place is not ours to replace.
  struct stat info;
  if (::lstat(path, &info) == 0 && !S_ISREG(info.st_mode)) return false;
  const std::string text = Text();
  return WriteFileIfChanged(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}
