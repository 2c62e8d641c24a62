// ReadPhotoText: a photo's own metadata and then its sidecars, a later
// source winning field by field; the sidecar names and their key for the
// manifest; the text rules the readers share.

#include "imagein/photo_text.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "imagein/format_table.h"
#include "imagein/photo_text_parts.h"
#include "platform/file_stamp.h"
#include "support/path_util.h"
#include "support/utf8.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

// The name without its last extension.
std::string StemOf(const char* name) {
  const std::string whole = name;
  const size_t dot = whole.rfind('.');
  return dot == std::string::npos || dot == 0 ? whole : whole.substr(0, dot);
}

bool JoinPath(const char* folder, const std::string& name, std::string* out) {
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, name.c_str())) return false;
  *out = path;
  return true;
}

bool FileIsThere(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

// The first of `names` beside the photo that is there, or false.
bool FindSidecar(const char* folder, std::initializer_list<std::string> names, std::string* path) {
  for (const std::string& name : names) {
    if (JoinPath(folder, name, path) && FileIsThere(*path)) return true;
  }
  return false;
}

// A sidecar's bytes, at most kMaxTextSidecarBytes; a warning when it cannot be read.
bool ReadSidecar(const std::string& path, std::string* bytes, std::vector<TPhotoTextWarning>* warnings) {
  std::string error;
  if (ReadWholeRegularFile(path.c_str(), static_cast<size_t>(kMaxTextSidecarBytes), TLinkRule::kFollow, bytes, &error)) {
    return true;
  }
  warnings->push_back({path, "sidecar left out: " + error});
  return false;
}

// The metadata of the image file: the head of a JPEG file, any other file
// whole when it is small enough.
void ReadImageMetadata(const std::string& path, TPhotoText* text, std::vector<TPhotoTextWarning>* warnings) {
  const bool jpeg = FormatIdOfPath(path.c_str()) == static_cast<int32_t>(TImageFormat::kJpeg);
  std::FILE* stream = OpenRegularFileForReading(path.c_str());
  if (stream == nullptr) return;  // the image itself reports what is wrong with it
  struct stat info;
  if (::fstat(fileno(stream), &info) != 0 || info.st_size <= 0) {
    std::fclose(stream);
    return;
  }
  const size_t file_size = static_cast<size_t>(info.st_size);
  if (!jpeg && file_size > kMaxMetadataFileBytes) {
    std::fclose(stream);
    warnings->push_back({path, "metadata not read: file larger than 64 MiB"});
    return;
  }
  const size_t size = jpeg ? std::min(file_size, kMaxJpegMetadataHead) : file_size;
  uint8_t* data = static_cast<uint8_t*>(std::malloc(size));
  if (data == nullptr) {
    std::fclose(stream);
    warnings->push_back({path, "metadata not read: out of memory"});
    return;
  }
  const size_t got = std::fread(data, 1, size, stream);
  std::fclose(stream);
  if (got > 0) ReadEmbeddedPhotoText(data, got, path.c_str(), text, warnings);
  std::free(data);
}

bool HasAnything(const TPhotoText& t) {
  return !t.title.empty() || !t.caption.empty() || !t.keywords.empty() || t.rating != 0 || !t.lens.empty() ||
         !t.date_taken.empty() || t.has_location;
}

}  // namespace

bool IsUtf8Text(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t left = text.size();
  while (left > 0) {
    uint32_t code = 0;
    const size_t n = DecodeUtf8Sequence(p, left, &code);
    if (n == 0) return false;
    p += n;
    left -= n;
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::string TidyText(std::string_view text, size_t max_bytes) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  if (text.size() > max_bytes) {
    size_t cut = max_bytes;
    // Back to the start of a character: never past a lead byte's continuations.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  }
  return std::string(text);
}

std::string TidyLine(std::string_view text, size_t max_bytes) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return TidyText(line, max_bytes);
}

void AddKeyword(std::string_view keyword, std::vector<std::string>* keywords) {
  if (keywords->size() >= kMaxPhotoKeywords) return;
  std::string tidy = TidyLine(keyword, kMaxPhotoKeywordBytes);
  if (tidy.empty()) return;
  for (const std::string& known : *keywords) {
    if (known == tidy) return;
  }
  keywords->push_back(std::move(tidy));
}

bool UsablePlace(double latitude, double longitude) {
  return std::isfinite(latitude) && std::isfinite(longitude) && latitude >= -90 && latitude <= 90 &&
         longitude >= -180 && longitude <= 180 && !(latitude == 0 && longitude == 0);
}

void MergePhotoText(const TPhotoText& later, TPhotoText* text) {
  if (!later.title.empty()) text->title = later.title;
  if (!later.caption.empty()) {
    text->caption = later.caption;
    text->caption_markdown = later.caption_markdown;
  }
  if (!later.keywords.empty()) text->keywords = later.keywords;
  if (later.rating != 0) text->rating = later.rating;
  if (!later.lens.empty()) text->lens = later.lens;
  if (!later.date_taken.empty()) text->date_taken = later.date_taken;
  if (later.has_location) {
    text->has_location = true;
    text->latitude = later.latitude;
    text->longitude = later.longitude;
  }
}

std::vector<std::string> PhotoTextSidecarNames(const char* name) {
  const std::string whole = name;
  const std::string stem = StemOf(name);
  std::vector<std::string> names = {whole + ".xmp", stem + ".xmp"};
  if (stem + ".md" != "index.md") names.push_back(stem + ".md");
  names.push_back(whole + ".json");
  names.push_back(whole + ".supplemental-metadata.json");
  return names;
}

uint64_t PhotoTextSidecarKey(const char* folder, const char* name) {
  uint64_t key = 0;
  bool any = false;
  auto mix = [&key](const void* bytes, size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size; ++i) {
      key ^= p[i];
      key *= 1099511628211ULL;  // FNV-1a
    }
  };
  key = 14695981039346656037ULL;
  for (const std::string& sidecar : PhotoTextSidecarNames(name)) {
    std::string path;
    struct stat info;
    if (!JoinPath(folder, sidecar, &path) || ::stat(path.c_str(), &info) != 0) continue;
    const TFileStamp stamp = FileStampOf(info);
    mix(sidecar.data(), sidecar.size() + 1);
    mix(&stamp.size, sizeof stamp.size);
    mix(&stamp.mtime_ns, sizeof stamp.mtime_ns);
    mix(&stamp.inode, sizeof stamp.inode);
    mix(&stamp.ctime_ns, sizeof stamp.ctime_ns);
    any = true;
  }
  if (!any) return 0;
  return key == 0 || key == ~uint64_t{0} ? 1 : key;
}

bool ReadPhotoText(const char* folder, const char* name, TPhotoText* text, std::vector<TPhotoTextWarning>* warnings) {
  *text = TPhotoText{};
  if (folder == nullptr || name == nullptr || *name == '\0') return false;
  std::string path;
  if (!JoinPath(folder, name, &path)) return false;
  ReadImageMetadata(path, text, warnings);

  const std::string whole = name;
  const std::string stem = StemOf(name);
  std::string sidecar;
  std::string bytes;
  if (FindSidecar(folder, {whole + ".xmp", stem + ".xmp"}, &sidecar) && ReadSidecar(sidecar, &bytes, warnings)) {
    TPhotoText layer;
    ReadXmpSidecarText(bytes, sidecar.c_str(), &layer, warnings);
    MergePhotoText(layer, text);
  }
  if (stem + ".md" != "index.md" && FindSidecar(folder, {stem + ".md"}, &sidecar) &&
      ReadSidecar(sidecar, &bytes, warnings)) {
    TPhotoText layer;
    ReadMarkdownSidecarText(bytes, sidecar.c_str(), &layer, warnings);
    MergePhotoText(layer, text);
  }
  if (FindSidecar(folder, {whole + ".json", whole + ".supplemental-metadata.json"}, &sidecar) &&
      ReadSidecar(sidecar, &bytes, warnings)) {
    TPhotoText layer;
    ReadTakeoutJsonText(bytes, name, sidecar.c_str(), &layer, warnings);
    MergePhotoText(layer, text);
  }
  return HasAnything(*text);
}
