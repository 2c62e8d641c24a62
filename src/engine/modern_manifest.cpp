#include "engine/modern_manifest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/generated_names.h"
#include "raster/jpeg_memory_writer.h"
#include "support/path_util.h"

namespace {

constexpr const char* kMagic = "vellumcast-modern-manifest";
constexpr int32_t kFormatVersion = 1;
constexpr int kFieldCount = 20;
// A manifest larger than this is not read (a folder of a million images
// would still fit).
constexpr long kMaxManifestBytes = 256L << 20;

bool ManifestPath(const char* folder, char* out, size_t capacity) {
  char relative[64];
  std::snprintf(relative, sizeof relative, "%s%c%s", kThumbnailFolder, kPathSeparator, kModernManifestFile);
  return PathJoin(out, capacity, kMaxPath, folder, relative);
}

void AppendEscaped(std::string& out, const std::string& text) {
  for (const char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case '\\': *out += '\\'; break;
      case 't': *out += '\t'; break;
      case 'n': *out += '\n'; break;
      case 'r': *out += '\r'; break;
      default: return false;
    }
  }
  return true;
}

bool ParseInt(const std::string& text, int64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  *value = parsed;
  return true;
}

bool ParseInt32(const std::string& text, int32_t* value) {
  int64_t wide = 0;
  if (!ParseInt(text, &wide) || wide < INT32_MIN || wide > INT32_MAX) return false;
  *value = static_cast<int32_t>(wide);
  return true;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// The page paths of an entry follow from its name and what exists.
void FillPaths(TModernManifestEntry* entry, bool has_2x, bool has_web) {
  char stem[32];
  NamedImageStem(entry->name.c_str(), stem, sizeof stem);
  const std::string base = std::string(kThumbnailFolder) + "/" + stem;
  entry->result.thumb_1x = base + kNamedImageSuffixes[0];
  entry->result.thumb_2x = has_2x ? base + kNamedImageSuffixes[1] : std::string();
  entry->result.web_copy = has_web ? base + kNamedImageSuffixes[2] : std::string();
}

bool ParseEntry(const std::string& line, TModernManifestEntry* entry) {
  const std::vector<std::string> f = SplitTabs(line);
  if (f.size() != kFieldCount) return false;
  TModernImageResult& r = entry->result;
  int32_t has_2x = 0;
  if (!Unescape(f[0], &entry->name) || entry->name.empty()) return false;
  if (!ParseInt(f[1], &entry->source.size) || !ParseInt(f[2], &entry->source.mtime_ns) ||
      !ParseInt(f[3], &entry->source.inode) || !ParseInt(f[4], &entry->source.ctime_ns))
    return false;
  if (!ParseInt32(f[5], &entry->cellwidth) || !ParseInt32(f[6], &entry->cellheight) ||
      !ParseInt32(f[7], &entry->crop) || !ParseInt32(f[8], &entry->version))
    return false;
  if (!ParseInt32(f[9], &r.facts.width) || !ParseInt32(f[10], &r.facts.height) ||
      !ParseInt32(f[11], &r.facts.orientation))
    return false;
  if (!Unescape(f[12], &r.facts.date_taken) || !Unescape(f[13], &r.facts.camera) ||
      !Unescape(f[14], &r.facts.exposure))
    return false;
  if (!ParseInt32(f[15], &r.thumb_width) || !ParseInt32(f[16], &r.thumb_height) || !ParseInt32(f[17], &has_2x) ||
      !ParseInt32(f[18], &r.web_width) || !ParseInt32(f[19], &r.web_height))
    return false;
  if (r.thumb_width < 1 || r.thumb_height < 1 || (has_2x != 0 && has_2x != 1)) return false;
  FillPaths(entry, has_2x == 1, r.web_width > 0 && r.web_height > 0);
  return true;
}

void AppendField(std::string& out, int64_t value) {
  out += '\t';
  out += std::to_string(value);
}

std::string FormatManifest(const std::vector<TModernManifestEntry>& entries) {
  std::string out = std::string(kMagic) + "\t" + std::to_string(kFormatVersion) + "\n";
  for (const TModernManifestEntry& e : entries) {
    const TModernImageResult& r = e.result;
    AppendEscaped(out, e.name);
    AppendField(out, e.source.size);
    AppendField(out, e.source.mtime_ns);
    AppendField(out, e.source.inode);
    AppendField(out, e.source.ctime_ns);
    AppendField(out, e.cellwidth);
    AppendField(out, e.cellheight);
    AppendField(out, e.crop);
    AppendField(out, e.version);
    AppendField(out, r.facts.width);
    AppendField(out, r.facts.height);
    AppendField(out, r.facts.orientation);
    for (const std::string* text : {&r.facts.date_taken, &r.facts.camera, &r.facts.exposure}) {
      out += '\t';
      AppendEscaped(out, *text);
    }
    AppendField(out, r.thumb_width);
    AppendField(out, r.thumb_height);
    AppendField(out, r.thumb_2x.empty() ? 0 : 1);
    AppendField(out, r.web_copy.empty() ? 0 : r.web_width);
    AppendField(out, r.web_copy.empty() ? 0 : r.web_height);
    out += '\n';
  }
  out += "end\t" + std::to_string(entries.size()) + "\n";
  return out;
}

// The whole file, or false when it cannot be read or is too large.
bool ReadWholeFile(const char* path, std::string* bytes) {
  std::FILE* stream = OpenRegularFileForReading(path);
  if (stream == nullptr) return false;
  bytes->clear();
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const size_t got = std::fread(buffer, 1, sizeof buffer, stream);
    if (got == 0) break;
    bytes->append(buffer, got);
    if (bytes->size() > static_cast<size_t>(kMaxManifestBytes)) {
      ok = false;
      break;
    }
  }
  if (std::ferror(stream)) ok = false;
  std::fclose(stream);
  return ok;
}

}  // namespace

bool ReadModernSourceKey(const char* path, TModernSourceKey* key) {
  struct stat info;
  if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  key->size = static_cast<int64_t>(info.st_size);
  key->mtime_ns = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  key->inode = static_cast<int64_t>(info.st_ino);
  key->ctime_ns = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
  return true;
}

std::vector<TModernManifestEntry> ReadModernManifest(const char* folder) {
  std::vector<TModernManifestEntry> entries;
  char path[kPathBufferSize];
  std::string bytes;
  if (!ManifestPath(folder, path, sizeof path) || !ReadWholeFile(path, &bytes)) return entries;
  size_t start = 0;
  bool header_seen = false;
  bool ended = false;
  while (start < bytes.size()) {
    const size_t newline = bytes.find('\n', start);
    if (newline == std::string::npos || ended) return {};  // cut inside a line, or text after the end
    const std::string line = bytes.substr(start, newline - start);
    start = newline + 1;
    if (!header_seen) {
      if (line != std::string(kMagic) + "\t" + std::to_string(kFormatVersion)) return {};
      header_seen = true;
      continue;
    }
    if (line.rfind("end\t", 0) == 0) {
      int64_t count = -1;
      if (!ParseInt(line.substr(4), &count) || count != static_cast<int64_t>(entries.size())) return {};
      ended = true;
      continue;
    }
    TModernManifestEntry entry;
    if (!ParseEntry(line, &entry)) return {};
    entries.push_back(std::move(entry));
  }
  if (!ended) return {};
  std::sort(entries.begin(), entries.end(),
            [](const TModernManifestEntry& a, const TModernManifestEntry& b) { return a.name < b.name; });
  return entries;
}

bool WriteModernManifest(const char* folder, const std::vector<TModernManifestEntry>& entries) {
  char path[kPathBufferSize];
  if (!ManifestPath(folder, path, sizeof path)) return false;
  if (entries.empty()) {
    return ::unlink(path) == 0 || errno == ENOENT;
  }
  const std::string text = FormatManifest(entries);
  std::string existing;
  if (ReadWholeFile(path, &existing) && existing == text) return true;
  MakePathDirs(path, 1);
  return WriteFileReplacing(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const TModernManifestEntry* FindModernEntry(const std::vector<TModernManifestEntry>& entries, const char* name,
                                            const TModernSourceKey& key, const TModernImageOptions& options) {
  const auto found = std::lower_bound(
      entries.begin(), entries.end(), name,
      [](const TModernManifestEntry& e, const char* wanted) { return e.name.compare(wanted) < 0; });
  if (found != entries.end() && found->name == name) {
    const TModernManifestEntry& e = *found;
    if (e.source == key && e.cellwidth == options.cellwidth && e.cellheight == options.cellheight &&
        e.crop == options.crop && e.version == kModernEncoderVersion)
      return &e;
  }
  return nullptr;
}
