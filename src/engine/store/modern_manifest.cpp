#include "engine/store/modern_manifest.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/store/generated_names.h"
#include "imagein/photo_text_parts.h"
#include "platform/atomic_file.h"
#include "platform/folder_handle.h"
#include "support/path_util.h"

namespace {

constexpr const char* kMagic = "vellumcast-modern-manifest";
// Version 3 adds a video's fields after a photo's; version 2 files (photos
// only) still read.
constexpr int32_t kFormatVersion = 3;
constexpr int32_t kPhotoOnlyVersion = 2;
constexpr int kPhotoFieldCount = 31;
constexpr int kFieldCount = 38;
// A manifest larger than this is not read (a folder of a million images
// would still fit).
constexpr size_t kMaxManifestBytes = size_t{256} << 20;

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

// A photo text: UTF-8 within its cap, as the reader made it.
bool ParseText(const std::string& field, size_t max_bytes, std::string* out) {
  return Unescape(field, out) && out->size() <= max_bytes && IsUtf8Text(*out);
}

// Keywords as "<length>:<bytes>" one after another (inside the escaped field).
std::string KeywordField(const std::vector<std::string>& keywords) {
  std::string out;
  for (const std::string& k : keywords) out += std::to_string(k.size()) + ":" + k;
  return out;
}

bool ParseKeywords(const std::string& field, std::vector<std::string>* keywords) {
  std::string text;
  if (!Unescape(field, &text)) return false;
  keywords->clear();
  size_t at = 0;
  while (at < text.size()) {
    size_t length = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), length);
    if (error != std::errc() || end == text.data() + at || end == text.data() + text.size() || *end != ':') return false;
    at = static_cast<size_t>(end - text.data()) + 1;
    if (length == 0 || length > kMaxPhotoKeywordBytes || length > text.size() - at) return false;
    keywords->push_back(text.substr(at, length));
    if (keywords->size() > kMaxPhotoKeywords || !IsUtf8Text(keywords->back())) return false;
    at += length;
  }
  return true;
}

std::string DoubleField(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool ParseDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

bool ParseHex64(const std::string& text, uint64_t* value) {
  if (text.size() != 16) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, 16);
  return error == std::errc() && end == text.data() + text.size();
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
void FillPaths(TModernManifestEntry* entry, bool has_1x, bool has_2x, bool has_web, bool has_web_video) {
  char stem[32];
  NamedImageStem(entry->name.c_str(), stem, sizeof stem);
  const std::string base = std::string(kThumbnailFolder) + "/" + stem;
  entry->result.video.web_copy = has_web_video ? base + kNamedVideoSuffix : std::string();
  entry->result.thumb_1x = has_1x ? base + kNamedImageSuffixes[0] : std::string();
  entry->result.thumb_2x = has_2x ? base + kNamedImageSuffixes[1] : std::string();
  entry->result.web_copy = has_web ? base + kNamedImageSuffixes[2] : std::string();
}

// A video's fields: is_video, mode, code, duration, MIME type, playable, web copy.
bool ParseVideoFields(const std::vector<std::string>& f, TModernManifestEntry* entry, bool* has_web_video) {
  TModernVideo& v = entry->result.video;
  int32_t is_video = 0;
  int32_t playable = 0;
  int32_t web = 0;
  if (!ParseInt32(f[31], &is_video) || !ParseInt32(f[32], &entry->video_mode) || !ParseInt32(f[33], &v.code) ||
      !ParseInt(f[34], &v.duration_ms) || !Unescape(f[35], &v.mime_type) || !ParseInt32(f[36], &playable) ||
      !ParseInt32(f[37], &web))
    return false;
  if ((is_video != 0 && is_video != 1) || (playable != 0 && playable != 1) || (web != 0 && web != 1)) return false;
  if (v.duration_ms < 0 || v.mime_type.size() > 64 || !IsUtf8Text(v.mime_type)) return false;
  if (is_video == 0 && (entry->video_mode != 0 || v.code != 0 || v.duration_ms != 0 || !v.mime_type.empty() ||
                        playable != 0 || web != 0))
    return false;
  if (is_video == 1 && v.code == 0 && web == 1 && playable == 1) return false;
  v.is_video = is_video == 1;
  v.playable = playable == 1;
  *has_web_video = web == 1;
  return true;
}

bool ParseEntry(const std::string& line, int32_t version, TModernManifestEntry* entry) {
  const std::vector<std::string> f = SplitTabs(line);
  if (f.size() != static_cast<size_t>(version == kPhotoOnlyVersion ? kPhotoFieldCount : kFieldCount)) return false;
  bool has_web_video = false;
  if (version != kPhotoOnlyVersion && !ParseVideoFields(f, entry, &has_web_video)) return false;
  // A video whose poster could not be read is recorded without thumbnails.
  const bool no_poster = entry->result.video.is_video && entry->result.video.code != 0;
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
  if (has_2x != 0 && has_2x != 1) return false;
  if (no_poster ? (r.thumb_width != 0 || r.thumb_height != 0 || has_2x != 0 || has_web_video)
                : (r.thumb_width < 1 || r.thumb_height < 1))
    return false;
  TPhotoText& t = r.facts.text;
  int32_t markdown = 0;
  int32_t located = 0;
  if (!ParseHex64(f[20], &entry->sidecars) || !ParseText(f[21], kMaxPhotoTitleBytes, &t.title) ||
      !ParseText(f[22], kMaxPhotoCaptionBytes, &t.caption) || !ParseInt32(f[23], &markdown) ||
      !ParseKeywords(f[24], &t.keywords) || !ParseInt32(f[25], &t.rating) ||
      !ParseText(f[26], kMaxPhotoTitleBytes, &t.lens) || !ParseText(f[27], 19, &t.date_taken) ||
      !ParseInt32(f[28], &located) || !ParseDouble(f[29], &t.latitude) || !ParseDouble(f[30], &t.longitude))
    return false;
  if ((markdown != 0 && markdown != 1) || (located != 0 && located != 1) || t.rating < -1 || t.rating > 5) return false;
  t.caption_markdown = markdown == 1;
  t.has_location = located == 1;
  if (t.has_location ? !UsablePlace(t.latitude, t.longitude) : (t.latitude != 0 || t.longitude != 0)) return false;
  FillPaths(entry, !no_poster, has_2x == 1, r.web_width > 0 && r.web_height > 0, has_web_video);
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
    const TPhotoText& t = r.facts.text;
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(e.sidecars));
    out += '\t';
    out += key;
    for (const std::string* text : {&t.title, &t.caption}) {
      out += '\t';
      AppendEscaped(out, *text);
    }
    AppendField(out, t.caption_markdown ? 1 : 0);
    out += '\t';
    AppendEscaped(out, KeywordField(t.keywords));
    AppendField(out, t.rating);
    for (const std::string* text : {&t.lens, &t.date_taken}) {
      out += '\t';
      AppendEscaped(out, *text);
    }
    AppendField(out, t.has_location ? 1 : 0);
    out += '\t' + DoubleField(t.has_location ? t.latitude : 0);
    out += '\t' + DoubleField(t.has_location ? t.longitude : 0);
    const TModernVideo& v = r.video;
    AppendField(out, v.is_video ? 1 : 0);
    AppendField(out, v.is_video ? e.video_mode : 0);
    AppendField(out, v.is_video ? v.code : 0);
    AppendField(out, v.is_video ? v.duration_ms : 0);
    out += '\t';
    if (v.is_video) AppendEscaped(out, v.mime_type);
    AppendField(out, v.is_video && v.playable ? 1 : 0);
    AppendField(out, v.is_video && !v.web_copy.empty() ? 1 : 0);
    out += '\n';
  }
  out += "end\t" + std::to_string(entries.size()) + "\n";
  return out;
}

}  // namespace

std::vector<TModernManifestEntry> ReadModernManifest(const char* folder) {
  std::vector<TModernManifestEntry> entries;
  char path[kPathBufferSize];
  std::string bytes;
  std::string error;
  // A linked thumbnail folder's manifest describes wherever the link leads.
  if (!ManifestPath(folder, path, sizeof path) || IsLinkedThumbnailFolder(folder) ||
      !ReadWholeRegularFile(path, kMaxManifestBytes, TLinkRule::kRefuse, &bytes, &error)) {
    return entries;
  }
  size_t start = 0;
  bool header_seen = false;
  bool ended = false;
  int32_t version = 0;
  while (start < bytes.size()) {
    const size_t newline = bytes.find('\n', start);
    if (newline == std::string::npos || ended) return {};  // cut inside a line, or text after the end
    const std::string line = bytes.substr(start, newline - start);
    start = newline + 1;
    if (!header_seen) {
      if (line == std::string(kMagic) + "\t" + std::to_string(kFormatVersion)) {
        version = kFormatVersion;
      } else if (line == std::string(kMagic) + "\t" + std::to_string(kPhotoOnlyVersion)) {
        version = kPhotoOnlyVersion;
      } else {
        return {};
      }
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
    if (!ParseEntry(line, version, &entry)) return {};
    entries.push_back(std::move(entry));
  }
  if (!ended) return {};
  std::sort(entries.begin(), entries.end(),
            [](const TModernManifestEntry& a, const TModernManifestEntry& b) { return a.name < b.name; });
  return entries;
}

bool WriteModernManifest(const char* folder, const std::vector<TModernManifestEntry>& entries) {
  char path[kPathBufferSize];
  if (!ManifestPath(folder, path, sizeof path) || IsLinkedThumbnailFolder(folder)) return false;
  if (entries.empty()) return RemoveFileInFolder(path);
  const std::string text = FormatManifest(entries);
  if (!MakeParentFolder(path)) return false;
  return WriteFileIfChanged(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const TModernManifestEntry* FindModernEntry(const std::vector<TModernManifestEntry>& entries, const char* name,
                                            const TFileStamp& key, const TModernImageOptions& options) {
  const auto found = std::lower_bound(
      entries.begin(), entries.end(), name,
      [](const TModernManifestEntry& e, const char* wanted) { return e.name.compare(wanted) < 0; });
  if (found != entries.end() && found->name == name) {
    const TModernManifestEntry& e = *found;
    if (e.source == key && e.cellwidth == options.cellwidth && e.cellheight == options.cellheight &&
        e.crop == options.crop && e.version == kModernEncoderVersion &&
        (!e.result.video.is_video || e.video_mode == options.video_mode))
      return &e;
  }
  return nullptr;
}
