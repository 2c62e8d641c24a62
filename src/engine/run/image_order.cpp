#include "engine/run/image_order.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "imagein/exif.h"
#include "imagein/format_table.h"
#include "imagein/video.h"
#include "support/path_util.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Compares the digit runs at *a and *b as numbers and moves both past them.
int CompareDigitRuns(const char*& a, const char*& b) {
  while (*a == '0' && IsDigit(a[1])) ++a;
  while (*b == '0' && IsDigit(b[1])) ++b;
  const char* a_end = a;
  const char* b_end = b;
  while (IsDigit(*a_end)) ++a_end;
  while (IsDigit(*b_end)) ++b_end;
  int result = 0;
  if (a_end - a != b_end - b) {
    result = a_end - a < b_end - b ? -1 : 1;
  } else {
    result = std::strncmp(a, b, static_cast<size_t>(a_end - a));
  }
  a = a_end;
  b = b_end;
  return result;
}

int NaturalKeyCompare(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    if (IsDigit(*a) && IsDigit(*b)) {
      const int runs = CompareDigitRuns(a, b);
      if (runs != 0) return runs;
      continue;
    }
    const int ca = std::tolower(static_cast<unsigned char>(*a));
    const int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    ++a;
    ++b;
  }
  if (*a == *b) return 0;
  return *a == '\0' ? -1 : 1;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// "YYYY-MM-DD HH:MM:SS" as seconds since 1970, read as UTC like the
// modification times it is compared with; false when it is not such a date.
bool ParseDateTaken(const std::string& text, int64_t* seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &year, &month, &day, &hour, &minute, &second) != 6)
    return false;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

// The date an image sorts by: when it was taken (JPEG EXIF) or recorded (a
// video's creation time), else its modification time; 0 when neither can be read.
int64_t ImageDateTaken(const char* path) {
  int64_t seconds = 0;
  if (FormatIdOfPath(path) == static_cast<int32_t>(TImageFormat::kJpeg)) {
    TExifFacts facts;
    if (ReadExifFacts(path, &facts) && ParseDateTaken(facts.date_taken, &seconds)) return seconds;
  } else if (IsVideoPath(path)) {
    TVideoFacts facts;
    if (ReadVideoFacts(path, &facts) == 0 && ParseDateTaken(facts.date_recorded, &seconds)) return seconds;
  }
  struct stat info;
  if (::stat(path, &info) != 0) return 0;
  return static_cast<int64_t>(info.st_mtime);
}

}  // namespace

int NaturalCompare(const char* a, const char* b) {
  const int key = NaturalKeyCompare(a, b);
  if (key != 0) return key;
  return std::strcmp(a, b);
}

bool CompareImages(const TStrEntry* a, const TStrEntry* b, intptr_t order) {
  switch (order) {
    case kOrderNatural: return NaturalCompare(a->name, b->name) < 0;
    case kOrderDate: {
      const int64_t date_a = static_cast<const TImageEntry*>(a)->date;
      const int64_t date_b = static_cast<const TImageEntry*>(b)->date;
      if (date_a != date_b) return date_a < date_b;
      return NaturalCompare(a->name, b->name) < 0;
    }
    default: return TStringManager::ByteOrderBefore(a, b, 0);
  }
}

TStrEntry* SortedImageWalk(TStringManager& images, int32_t order) {
  // The described order is the table's own default walk.
  if (order == kOrderName) return images.SortedWalk(0, nullptr);
  if (order == kOrderDate && images.EntrySize() < sizeof(TImageEntry)) order = kOrderNatural;
  return images.SortedWalk(order, CompareImages);
}

void ReadImageDates(TStringManager& images, const char* folder) {
  if (images.EntrySize() < sizeof(TImageEntry)) return;
  char path[kPathBufferSize];
  for (TStrEntry* entry = images.Walk(); entry != nullptr; entry = entry->walk) {
    auto* image = static_cast<TImageEntry*>(entry);
    image->date = PathJoin(path, sizeof path, kMaxPath, folder, entry->name) ? ImageDateTaken(path) : 0;
  }
}

bool ParseImageOrder(const char* text, int32_t* order) {
  for (int32_t i = kOrderName; i <= kOrderDate; ++i) {
    if (std::strcmp(text, ImageOrderName(i)) == 0) {
      *order = i;
      return true;
    }
  }
  return false;
}

const char* ImageOrderName(int32_t order) {
  switch (order) {
    case kOrderNatural: return "natural";
    case kOrderDate: return "date";
    default: return "name";
  }
}
