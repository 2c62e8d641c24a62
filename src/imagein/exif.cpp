// EXIF facts through libexif (its C interface never throws). The file probe
// walks the JPEG marker segments up to the first scan and reads only the
// APP1 segment that carries the EXIF block; libexif parses that block.

#include "imagein/exif.h"

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/path_util.h"

namespace {

constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// Marker segments looked at before giving up on finding the EXIF block.
constexpr int kMaxSegments = 256;
// Longest text kept of a camera make or model.
constexpr size_t kMaxNameLength = 64;

bool HasExifHeader(const uint8_t* data, size_t size) {
  return size >= sizeof kExifHeader && std::memcmp(data, kExifHeader, sizeof kExifHeader) == 0;
}

ExifEntry* EntryOf(ExifData* exif, ExifIfd ifd, ExifTag tag) {
  ExifContent* content = exif->ifd[ifd];
  return content == nullptr ? nullptr : exif_content_get_entry(content, tag);
}

// The first value of a SHORT entry, or -1.
int32_t ShortValue(ExifData* exif, const ExifEntry* entry) {
  if (entry == nullptr || entry->data == nullptr || entry->components < 1 || entry->size < 2) return -1;
  if (entry->format != EXIF_FORMAT_SHORT) return -1;
  return exif_get_short(entry->data, exif_data_get_byte_order(exif));
}

// The first value of a RATIONAL entry as a double; false when absent or 0/0.
bool RationalValue(ExifData* exif, const ExifEntry* entry, double* value, ExifRational* raw = nullptr) {
  if (entry == nullptr || entry->data == nullptr || entry->components < 1 || entry->size < 8) return false;
  if (entry->format != EXIF_FORMAT_RATIONAL) return false;
  const ExifRational r = exif_get_rational(entry->data, exif_data_get_byte_order(exif));
  if (r.denominator == 0 || r.numerator == 0) return false;
  *value = static_cast<double>(r.numerator) / r.denominator;
  if (raw != nullptr) *raw = r;
  return true;
}

// The ASCII text of an entry, printable characters only, trailing blanks cut.
std::string TextValue(const ExifEntry* entry, size_t max_length) {
  std::string text;
  if (entry == nullptr || entry->data == nullptr || entry->format != EXIF_FORMAT_ASCII) return text;
  for (unsigned i = 0; i < entry->size && entry->data[i] != 0 && text.size() < max_length; ++i) {
    const unsigned char c = entry->data[i];
    text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  return text.substr(start);
}

// "YYYY:MM:DD HH:MM:SS" (the EXIF form) as "YYYY-MM-DD HH:MM:SS"; empty when
// the text is not of that form or is the all-zero "unknown" date.
std::string DateValue(const ExifEntry* entry) {
  const std::string text = TextValue(entry, 32);
  if (text.size() < 19) return std::string();
  static const char kPattern[] = "dddd:dd:dd dd:dd:dd";
  bool all_zero = true;
  for (size_t i = 0; i < 19; ++i) {
    const char c = text[i];
    if (kPattern[i] == 'd') {
      if (c < '0' || c > '9') return std::string();
      if (c != '0') all_zero = false;
    } else if (c != kPattern[i]) {
      return std::string();
    }
  }
  if (all_zero) return std::string();
  std::string date = text.substr(0, 19);
  date[4] = '-';
  date[7] = '-';
  return date;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (prefix.empty() || text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i];
    char b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// A decimal with at most one fractional digit, "2.8" or "8".
std::string ShortNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  const size_t length = std::strlen(text);
  if (length >= 2 && std::strcmp(text + length - 2, ".0") == 0) text[length - 2] = '\0';
  return text;
}

std::string ExposureText(ExifData* exif) {
  std::string parts;
  auto append = [&parts](const std::string& part) {
    if (!parts.empty()) parts += ", ";
    parts += part;
  };
  double value = 0;
  ExifRational raw{};
  if (RationalValue(exif, EntryOf(exif, EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME), &value, &raw) &&
      value < 1e6) {
    if (value >= 1.0) {
      append(ShortNumber(value) + " s");
    } else {
      const double denominator = std::round(1.0 / value);
      char text[32];
      std::snprintf(text, sizeof text, "1/%.0f s", denominator);
      append(text);
    }
  }
  if (RationalValue(exif, EntryOf(exif, EXIF_IFD_EXIF, EXIF_TAG_FNUMBER), &value) && value < 1e4)
    append("f/" + ShortNumber(value));
  const int32_t iso = ShortValue(exif, EntryOf(exif, EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS));
  if (iso > 0) append("ISO " + std::to_string(iso));
  if (RationalValue(exif, EntryOf(exif, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH), &value) && value < 1e5)
    append(ShortNumber(value) + " mm");
  return parts;
}

bool HasAnyEntry(const ExifData* exif) {
  for (int i = 0; i < EXIF_IFD_COUNT; ++i) {
    if (exif->ifd[i] != nullptr && exif->ifd[i]->count > 0) return true;
  }
  return false;
}

bool FactsFromExif(ExifData* exif, TExifFacts* facts) {
  if (!HasAnyEntry(exif)) return false;
  const int32_t orientation = ShortValue(exif, EntryOf(exif, EXIF_IFD_0, EXIF_TAG_ORIENTATION));
  facts->orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
  facts->date_taken = DateValue(EntryOf(exif, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL));
  if (facts->date_taken.empty()) facts->date_taken = DateValue(EntryOf(exif, EXIF_IFD_0, EXIF_TAG_DATE_TIME));
  const std::string make = TextValue(EntryOf(exif, EXIF_IFD_0, EXIF_TAG_MAKE), kMaxNameLength);
  const std::string model = TextValue(EntryOf(exif, EXIF_IFD_0, EXIF_TAG_MODEL), kMaxNameLength);
  if (model.empty() || make.empty() || StartsWithNoCase(model, make)) {
    facts->camera = model.empty() ? make : model;
  } else {
    facts->camera = make + " " + model;
  }
  facts->exposure = ExposureText(exif);
  return true;
}

// Reads the big-endian 16-bit value at the stream's position; -1 at the end.
int ReadWord(std::FILE* stream) {
  const int high = std::fgetc(stream);
  const int low = std::fgetc(stream);
  if (high == EOF || low == EOF) return -1;
  return (high << 8) | low;
}

// The next marker code after fill bytes; -1 when the stream holds none there.
int ReadMarker(std::FILE* stream) {
  int c = std::fgetc(stream);
  if (c != 0xFF) return -1;
  while (c == 0xFF) c = std::fgetc(stream);
  return c == EOF ? -1 : c;
}

// The payload of the first APP1 segment that starts with the EXIF header,
// read before the first scan; malloc'ed, or null. `ran_out` (when given) is
// set when the stream ended, or a segment could not be skipped, before the
// search was over.
uint8_t* ReadExifSegment(std::FILE* stream, size_t* size, bool* ran_out = nullptr) {
  if (ReadWord(stream) != 0xFFD8) return nullptr;
  for (int segment = 0; segment < kMaxSegments; ++segment) {
    const int marker = ReadMarker(stream);
    if (marker < 0 || marker == 0xDA || marker == 0xD9) return nullptr;
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length
    const int length = ReadWord(stream);
    if (length < 2) return nullptr;
    const size_t payload = static_cast<size_t>(length) - 2;
    if (marker == 0xE1 && payload >= sizeof kExifHeader) {
      uint8_t* data = static_cast<uint8_t*>(std::malloc(payload));
      if (data == nullptr) return nullptr;
      if (std::fread(data, 1, payload, stream) == payload && HasExifHeader(data, payload)) {
        *size = payload;
        return data;
      }
      std::free(data);
      continue;  // an XMP or other APP1: the EXIF block may follow
    }
    if (std::fseek(stream, static_cast<long>(payload), SEEK_CUR) != 0) {
      if (ran_out != nullptr) *ran_out = true;
      return nullptr;
    }
  }
  return nullptr;
}

}  // namespace

bool ParseExifFacts(const uint8_t* data, size_t size, TExifFacts* facts) {
  *facts = TExifFacts{};
  if (data == nullptr || size == 0 || size > (size_t{1} << 20)) return false;
  // libexif looks for the "Exif\0\0" header; a bare block gets one in front.
  uint8_t* block = static_cast<uint8_t*>(std::malloc(size + sizeof kExifHeader));
  if (block == nullptr) return false;
  size_t block_size = size;
  if (HasExifHeader(data, size)) {
    std::memcpy(block, data, size);
  } else {
    std::memcpy(block, kExifHeader, sizeof kExifHeader);
    std::memcpy(block + sizeof kExifHeader, data, size);
    block_size += sizeof kExifHeader;
  }
  ExifData* exif = exif_data_new();
  if (exif == nullptr) {
    std::free(block);
    return false;
  }
  // Read what is there: no invented entries, no rewritten maker notes.
  exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_set_option(exif, EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
  exif_data_load_data(exif, block, static_cast<unsigned int>(block_size));
  const bool found = FactsFromExif(exif, facts);
  exif_data_unref(exif);
  std::free(block);
  if (!found) *facts = TExifFacts{};
  return found;
}

bool ReadExifFactsFromStream(std::FILE* stream, TExifFacts* facts, bool* ran_out) {
  *facts = TExifFacts{};
  *ran_out = false;
  size_t size = 0;
  uint8_t* segment = ReadExifSegment(stream, &size, ran_out);
  if (segment == nullptr) {
    if (std::feof(stream) || std::ferror(stream)) *ran_out = true;
    return false;
  }
  const bool found = ParseExifFacts(segment, size, facts);
  std::free(segment);
  return found;
}

bool ReadExifFacts(const char* path, TExifFacts* facts) {
  *facts = TExifFacts{};
  if (path == nullptr) return false;
  std::FILE* stream = OpenRegularFileForReading(path);
  if (stream == nullptr) return false;
  size_t size = 0;
  uint8_t* segment = ReadExifSegment(stream, &size);
  std::fclose(stream);
  if (segment == nullptr) return false;
  const bool found = ParseExifFacts(segment, size, facts);
  std::free(segment);
  return found;
}
