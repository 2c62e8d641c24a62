#include "engine/store/thumb_manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/fnv_hash.h"

namespace {

constexpr const char* kMagicLine = "vellumcast-manifest 1";
// Positions are written as thumbnail numbers of at most nine digits.
constexpr int64_t kMaxPosition = 999999999;
constexpr int32_t kMaxRecords = 1 << 24;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A cursor over one line: words separated by single spaces.
struct TLine {
  const char* at;
  const char* end;

  bool AtEnd() const { return at == end; }

  // The next word; false when there is none.
  bool Word(const char** start, size_t* length) {
    if (at == end) return false;
    const char* w = at;
    while (at < end && *at != ' ') ++at;
    *start = w;
    *length = static_cast<size_t>(at - w);
    if (at < end) ++at;  // the single space
    return *length > 0;
  }

  bool Keyword(const char* expected) {
    const char* w;
    size_t n;
    return Word(&w, &n) && n == std::strlen(expected) && std::memcmp(w, expected, n) == 0;
  }

  // A decimal number in [min, max], optionally negative, without leading zeros.
  bool Number(int64_t min, int64_t max, int64_t* value) {
    const char* w;
    size_t n;
    if (!Word(&w, &n)) return false;
    bool negative = false;
    if (*w == '-') {
      negative = true;
      ++w;
      --n;
    }
    if (n == 0 || n > 19 || (n > 1 && *w == '0') || (negative && *w == '0')) return false;
    uint64_t v = 0;
    if (!Digits(w, n, &v)) return false;
    if (negative) {
      if (v > static_cast<uint64_t>(INT64_MAX) + 1) return false;
      const int64_t signed_value = v == static_cast<uint64_t>(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(v);
      if (signed_value < min) return false;
      *value = signed_value;
      return true;
    }
    if (v > static_cast<uint64_t>(max)) return false;
    *value = static_cast<int64_t>(v);
    return *value >= min;
  }

  bool Unsigned(uint64_t* value) {
    const char* w;
    size_t n;
    return Word(&w, &n) && n <= 20 && !(n > 1 && *w == '0') && Digits(w, n, value);
  }

  // The `n` decimal digits at `w` as a number; false for another character
  // or a value past 64 bits.
  static bool Digits(const char* w, size_t n, uint64_t* value) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
      if (w[i] < '0' || w[i] > '9') return false;
      const uint64_t digit = static_cast<uint64_t>(w[i] - '0');
      if (v > (UINT64_MAX - digit) / 10) return false;
      v = v * 10 + digit;
    }
    *value = v;
    return true;
  }
};

// Splits off the next line (without its '\n'); false at the end or for a
// last line without '\n'.
bool NextLine(const char** at, const char* end, TLine* line) {
  const void* nl = std::memchr(*at, '\n', static_cast<size_t>(end - *at));
  if (nl == nullptr) return false;
  line->at = *at;
  line->end = static_cast<const char*>(nl);
  *at = line->end + 1;
  return true;
}

// Decodes an escaped name into `out` (room for `length` + 1 bytes); false
// for a bad escape, an empty name, a NUL or a '/'.
bool DecodeName(const char* text, size_t length, char* out) {
  size_t o = 0;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) >= 0x7F) return false;
    if (c == '%') {
      if (i + 2 >= length) return false;
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0' || c == '/') return false;
    out[o++] = c;
  }
  out[o] = '\0';
  return o > 0;
}

int CompareRecords(const void* a, const void* b) {
  const auto* ra = static_cast<const TThumbRecord*>(a);
  const auto* rb = static_cast<const TThumbRecord*>(b);
  const int by_name = std::strcmp(ra->name, rb->name);
  if (by_name != 0) return by_name;
  return ra->position < rb->position ? -1 : ra->position > rb->position ? 1 : 0;
}

int ComparePositions(const void* a, const void* b) {
  const int32_t pa = *static_cast<const int32_t*>(a);
  const int32_t pb = *static_cast<const int32_t*>(b);
  return pa < pb ? -1 : pa > pb ? 1 : 0;
}

}  // namespace

TThumbManifest::~TThumbManifest() { Clear(); }

void TThumbManifest::Clear() {
  std::free(records_);
  std::free(names_);
  std::free(raw_);
  records_ = nullptr;
  names_ = nullptr;
  raw_ = nullptr;
  raw_size_ = 0;
  count_ = 0;
  valid_ = false;
  settings_ = TThumbSettings{};
}

bool TThumbManifest::Parse(const char* data, size_t size) {
  std::free(records_);
  std::free(names_);
  records_ = nullptr;
  names_ = nullptr;
  count_ = 0;
  valid_ = false;
  settings_ = TThumbSettings{};
  if (data == nullptr || size == 0 || size > kMaxManifestBytes) return false;
  if (ParseLines(data, size)) {
    valid_ = true;
    return true;
  }
  std::free(records_);
  std::free(names_);
  records_ = nullptr;
  names_ = nullptr;
  count_ = 0;
  settings_ = TThumbSettings{};
  return false;
}

bool TThumbManifest::ParseLines(const char* data, size_t size) {
  const char* end = data + size;
  // The end line is the last line: find where it starts.
  if (data[size - 1] != '\n') return false;
  size_t last_start = size - 1;
  while (last_start > 0 && data[last_start - 1] != '\n') --last_start;
  const size_t body_size = last_start;

  TLine tail{data + last_start, end - 1};
  int64_t declared = 0;
  const char* sum_text;
  size_t sum_length;
  if (!tail.Keyword("end") || !tail.Number(0, kMaxRecords, &declared) ||
      !tail.Word(&sum_text, &sum_length) || sum_length != 16 || !tail.AtEnd()) {
    return false;
  }
  uint64_t sum = 0;
  for (size_t i = 0; i < 16; ++i) {
    const int v = HexValue(sum_text[i]);
    if (v < 0 || (sum_text[i] >= 'A' && sum_text[i] <= 'F')) return false;
    sum = sum << 4 | static_cast<uint64_t>(v);
  }
  if (sum != Fnv1a64(data, body_size)) return false;

  const char* at = data;
  const char* body_end = data + body_size;
  TLine line;
  if (!NextLine(&at, body_end, &line)) return false;
  const size_t magic_length = std::strlen(kMagicLine);
  if (static_cast<size_t>(line.end - line.at) != magic_length || std::memcmp(line.at, kMagicLine, magic_length) != 0)
    return false;
  if (!NextLine(&at, body_end, &line)) return false;
  int64_t version, width, height, white;
  if (!line.Keyword("settings") || !line.Number(0, INT32_MAX, &version) || !line.Number(1, INT32_MAX, &width) ||
      !line.Number(1, INT32_MAX, &height) || !line.Number(0, 255, &white) || !line.AtEnd()) {
    return false;
  }
  settings_.version = static_cast<int32_t>(version);
  settings_.cellwidth = static_cast<int32_t>(width);
  settings_.cellheight = static_cast<int32_t>(height);
  settings_.thumbwhite = static_cast<int32_t>(white);

  // The records take at most the body's size for their names.
  if (declared > 0) {
    records_ = static_cast<TThumbRecord*>(std::calloc(static_cast<size_t>(declared), sizeof(TThumbRecord)));
    names_ = static_cast<char*>(std::malloc(body_size + 1));
    if (records_ == nullptr || names_ == nullptr) return false;
  }
  size_t names_used = 0;
  while (at < body_end) {
    if (!NextLine(&at, body_end, &line)) return false;
    if (count_ >= declared) return false;
    TThumbRecord& r = records_[count_];
    int64_t position, thumb_size, source_size, mtime, ctime;
    uint64_t inode;
    const char* name;
    size_t name_length;
    if (!line.Keyword("t") || !line.Number(0, kMaxPosition, &position) ||
        !line.Number(0, INT64_MAX, &thumb_size) || !line.Number(0, INT64_MAX, &source_size) ||
        !line.Number(INT64_MIN, INT64_MAX, &mtime) || !line.Unsigned(&inode) ||
        !line.Number(INT64_MIN, INT64_MAX, &ctime) || !line.Word(&name, &name_length) || !line.AtEnd()) {
      return false;
    }
    char* decoded = names_ + names_used;
    if (!DecodeName(name, name_length, decoded)) return false;
    names_used += std::strlen(decoded) + 1;
    r.position = static_cast<int32_t>(position);
    r.thumb_size = thumb_size;
    r.stamp.size = source_size;
    r.stamp.mtime_ns = mtime;
    r.stamp.inode = static_cast<int64_t>(inode);  // written back unsigned, bit for bit
    r.stamp.ctime_ns = ctime;
    r.name = decoded;
    ++count_;
  }
  if (count_ != declared) return false;
  if (count_ == 0) return true;

  // Every position at most once.
  auto* positions = static_cast<int32_t*>(std::malloc(static_cast<size_t>(count_) * sizeof(int32_t)));
  if (positions == nullptr) return false;
  for (int32_t i = 0; i < count_; ++i) positions[i] = records_[i].position;
  std::qsort(positions, static_cast<size_t>(count_), sizeof(int32_t), ComparePositions);
  bool unique = true;
  for (int32_t i = 1; i < count_ && unique; ++i) unique = positions[i] != positions[i - 1];
  std::free(positions);
  if (!unique) return false;
  std::qsort(records_, static_cast<size_t>(count_), sizeof(TThumbRecord), CompareRecords);
  return true;
}

bool TThumbManifest::Read(const char* path) {
  Clear();
  const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
      static_cast<uint64_t>(info.st_size) > kMaxManifestBytes) {
    ::close(fd);
    return false;
  }
  const size_t size = static_cast<size_t>(info.st_size);
  char* raw = static_cast<char*>(std::malloc(size));
  if (raw == nullptr) {
    ::close(fd);
    return false;
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, raw + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  if (done != size || !Parse(raw, size)) {
    std::free(raw);
    return false;
  }
  raw_ = raw;
  raw_size_ = size;
  return true;
}

int32_t TThumbManifest::FindFirst(const char* name) const {
  int32_t low = 0;
  int32_t high = count_;
  while (low < high) {
    const int32_t mid = low + (high - low) / 2;
    if (std::strcmp(records_[mid].name, name) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low < count_ && std::strcmp(records_[low].name, name) == 0 ? low : -1;
}

TManifestText::TManifestText(const TThumbSettings& settings) {
  char line[128];
  Append(kMagicLine);
  Append("\n");
  std::snprintf(line, sizeof line, "settings %d %d %d %d\n", settings.version, settings.cellwidth,
                settings.cellheight, settings.thumbwhite);
  Append(line);
}

TManifestText::~TManifestText() { std::free(data_); }

void TManifestText::Append(const char* text, size_t length) {
  if (failed_) return;
  if (size_ + length + 1 > capacity_) {
    size_t grown = capacity_ == 0 ? 4096 : capacity_ * 2;
    while (grown < size_ + length + 1) grown *= 2;
    char* bigger = static_cast<char*>(std::realloc(data_, grown));
    if (bigger == nullptr) {
      failed_ = true;
      return;
    }
    data_ = bigger;
    capacity_ = grown;
  }
  std::memcpy(data_ + size_, text, length);
  size_ += length;
  data_[size_] = '\0';
}

void TManifestText::Append(const char* text) { Append(text, std::strlen(text)); }

void TManifestText::Add(const TThumbRecord& record) {
  char line[160];
  std::snprintf(line, sizeof line, "t %d %" PRId64 " %" PRId64 " %" PRId64 " %" PRIu64 " %" PRId64 " ",
                record.position, record.thumb_size, record.stamp.size, record.stamp.mtime_ns,
                static_cast<uint64_t>(record.stamp.inode), record.stamp.ctime_ns);
  Append(line);
  static const char kHex[] = "0123456789ABCDEF";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(record.name); *p != 0; ++p) {
    if (*p < 0x21 || *p >= 0x7F || *p == '%') {
      const char escaped[3] = {'%', kHex[*p >> 4], kHex[*p & 15]};
      Append(escaped, 3);
    } else {
      Append(reinterpret_cast<const char*>(p), 1);
    }
  }
  Append("\n");
  ++records_;
}

bool TManifestText::Finish() {
  if (failed_) return false;
  char line[64];
  std::snprintf(line, sizeof line, "end %d %016" PRIx64 "\n", records_, Fnv1a64(data_, size_));
  Append(line);
  return !failed_;
}
