// The exiv2 adapter: the texts of an image file's XMP, IPTC and EXIF, and of
// an XMP sidecar's packet. exiv2 0.27 reports errors by throwing: every
// call into it stays inside this file's catch-all boundary, so nothing
// escapes into the core. Its log goes nowhere (a damaged block becomes a
// warning of the run instead), and the XMP toolkit is set up once, with a
// lock, before any thread parses a packet.

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>

#include <exiv2/exiv2.hpp>

#include "imagein/photo_text_parts.h"
#include "support/text_search.h"

namespace {

std::mutex g_xmp_mutex;

void LockXmp(void*, bool lock) {
  if (lock) {
    g_xmp_mutex.lock();
  } else {
    g_xmp_mutex.unlock();
  }
}

bool SetUpExiv2() {
  static std::once_flag once;
  static bool ready = false;
  try {
    std::call_once(once, [] {
      Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
      ready = Exiv2::XmpParser::initialize(LockXmp, nullptr);
    });
  } catch (...) {
    return false;
  }
  return ready;
}

void Warn(std::vector<TPhotoTextWarning>* warnings, const char* path, std::string reason) {
  if (reason.size() > 100) reason.resize(100);
  warnings->push_back({path, std::move(reason)});
}

// A text value, or empty with a warning when it is not UTF-8.
std::string Utf8Value(const std::string& raw, const char* what, const char* path,
                      std::vector<TPhotoTextWarning>* warnings) {
  if (IsUtf8Text(raw)) return raw;
  Warn(warnings, path, std::string(what) + " left out: not UTF-8");
  return {};
}

std::string LangAltText(const Exiv2::Value& value) {
  if (const auto* alt = dynamic_cast<const Exiv2::LangAltValue*>(&value)) {
    const auto found = alt->value_.find("x-default");
    if (found != alt->value_.end()) return found->second;
    return alt->value_.empty() ? std::string() : alt->value_.begin()->second;
  }
  return value.toString();
}

std::string XmpText(const Exiv2::XmpData& xmp, const char* key) {
  const auto found = xmp.findKey(Exiv2::XmpKey(key));
  return found == xmp.end() ? std::string() : LangAltText(found->value());
}

// "DDD,MM,SSk" or "DDD,MM.mmk" (k one of N, S, E, W) in degrees.
bool XmpCoordinate(std::string_view text, double* degrees) {
  if (text.size() < 2) return false;
  const char direction = text.back();
  text.remove_suffix(1);
  double parts[3] = {0, 0, 0};
  int count = 0;
  std::string number;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',') {
      if (number.empty() || count >= 3) return false;
      char* end = nullptr;
      parts[count++] = std::strtod(number.c_str(), &end);
      if (end == nullptr || *end != '\0') return false;
      number.clear();
    } else {
      number += text[i];
    }
  }
  const double value = parts[0] + parts[1] / 60 + parts[2] / 3600;
  if (direction == 'S' || direction == 'W') {
    *degrees = -value;
  } else if (direction == 'N' || direction == 'E') {
    *degrees = value;
  } else {
    return false;
  }
  return std::isfinite(*degrees);
}

void FromXmp(const Exiv2::XmpData& xmp, bool sidecar, const char* path, TPhotoText* text,
             std::vector<TPhotoTextWarning>* warnings) {
  text->title = TidyLine(Utf8Value(XmpText(xmp, "Xmp.dc.title"), "XMP title", path, warnings), kMaxPhotoTitleBytes);
  const std::string caption = Utf8Value(XmpText(xmp, "Xmp.dc.description"), "XMP description", path, warnings);
  text->caption = TidyText(caption, kMaxPhotoCaptionBytes);
  text->caption_markdown = false;
  const auto subject = xmp.findKey(Exiv2::XmpKey("Xmp.dc.subject"));
  if (subject != xmp.end()) {
    const long count = subject->count();
    for (long i = 0; i < count && text->keywords.size() < kMaxPhotoKeywords; ++i) {
      AddKeyword(Utf8Value(subject->toString(i), "XMP keyword", path, warnings), &text->keywords);
    }
  }
  const std::string rating = XmpText(xmp, "Xmp.xmp.Rating");
  if (!rating.empty()) {
    char* end = nullptr;
    const long value = std::strtol(rating.c_str(), &end, 10);
    if (end != nullptr && *end == '\0' && value >= -1 && value <= 5) text->rating = static_cast<int32_t>(value);
  }
  std::string lens = XmpText(xmp, "Xmp.aux.Lens");
  if (lens.empty()) lens = XmpText(xmp, "Xmp.exifEX.LensModel");
  text->lens = TidyLine(Utf8Value(lens, "XMP lens", path, warnings), kMaxPhotoTitleBytes);
  double latitude = 0;
  double longitude = 0;
  if (XmpCoordinate(XmpText(xmp, "Xmp.exif.GPSLatitude"), &latitude) &&
      XmpCoordinate(XmpText(xmp, "Xmp.exif.GPSLongitude"), &longitude) && UsablePlace(latitude, longitude)) {
    text->has_location = true;
    text->latitude = latitude;
    text->longitude = longitude;
  }
  if (sidecar) {
    std::string date = XmpText(xmp, "Xmp.exif.DateTimeOriginal");
    if (date.empty()) date = XmpText(xmp, "Xmp.photoshop.DateCreated");
    // "YYYY-MM-DDTHH:MM:SS" with an optional fraction and zone after it.
    if (date.size() >= 19 && date[4] == '-' && date[7] == '-' && date[10] == 'T' && date[13] == ':' &&
        date[16] == ':' && IsUtf8Text(date)) {
      text->date_taken = date.substr(0, 19);
      text->date_taken[10] = ' ';
    }
  }
}

// IPTC text: UTF-8 when the envelope says so (1:90 ESC % G); otherwise
// UTF-8 when it reads as UTF-8, else ISO 8859-1.
std::string IptcText(const std::string& raw, bool marked_utf8, const char* path,
                     std::vector<TPhotoTextWarning>* warnings) {
  if (IsUtf8Text(raw)) return raw;
  if (!marked_utf8) return Latin1ToUtf8(raw);
  Warn(warnings, path, "IPTC text left out: not UTF-8");
  return {};
}

void FromIptc(const Exiv2::IptcData& iptc, const char* path, TPhotoText* text,
              std::vector<TPhotoTextWarning>* warnings) {
  bool utf8 = false;
  const auto charset = iptc.findKey(Exiv2::IptcKey("Iptc.Envelope.CharacterSet"));
  if (charset != iptc.end()) utf8 = charset->toString() == "\x1b%G";
  if (text->title.empty()) {
    const auto name = iptc.findKey(Exiv2::IptcKey("Iptc.Application2.ObjectName"));
    if (name != iptc.end()) text->title = TidyLine(IptcText(name->toString(), utf8, path, warnings), kMaxPhotoTitleBytes);
  }
  if (text->caption.empty()) {
    const auto caption = iptc.findKey(Exiv2::IptcKey("Iptc.Application2.Caption"));
    if (caption != iptc.end()) {
      text->caption = TidyText(IptcText(caption->toString(), utf8, path, warnings), kMaxPhotoCaptionBytes);
    }
  }
  for (const Exiv2::Iptcdatum& datum : iptc) {
    if (text->keywords.size() >= kMaxPhotoKeywords) break;
    if (datum.key() == "Iptc.Application2.Keywords") {
      AddKeyword(IptcText(datum.toString(), utf8, path, warnings), &text->keywords);
    }
  }
}

std::string ExifText(const Exiv2::ExifData& exif, const char* key) {
  const auto found = exif.findKey(Exiv2::ExifKey(key));
  return found == exif.end() ? std::string() : found->toString();
}

// Texts cameras write into ImageDescription when the user wrote nothing.
constexpr const char* kPlaceholderDescriptions[] = {
    "OLYMPUS DIGITAL CAMERA", "SONY DSC", "DCIM", "DIGITAL CAMERA", "KODAK Digital Still Camera",
    "MINOLTA DIGITAL CAMERA", "PENTAX DIGITAL CAMERA", "SAMSUNG DIGITAL CAMERA", "Exif_JPEG_PICTURE",
    "Default", "default", "Image", "Picture", "LEICA", "NIKON", "CAMERA", "EASYSHARE", "Untitled",
};

bool IsPlaceholderDescription(const std::string& description, const std::string& make, const std::string& model) {
  if (description.empty()) return true;
  for (const char* known : kPlaceholderDescriptions) {
    if (SameNoCase(description, known)) return true;
  }
  if (!make.empty() && (SameNoCase(description, make) || SameNoCase(description, make + " " + model))) return true;
  if (!model.empty() && SameNoCase(description, model)) return true;
  // A short all-capitals text such as "<MAKER> DIGITAL CAMERA" or "<MAKER> DSC".
  if (description.size() <= 40) {
    bool capitals = true;
    for (const char c : description) {
      if (!(c == ' ' || c == '-' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) capitals = false;
    }
    const std::string_view d = description;
    const auto ends = [&d](std::string_view tail) { return d.size() >= tail.size() && d.substr(d.size() - tail.size()) == tail; };
    if (capitals && (ends("DIGITAL CAMERA") || ends(" DSC") || ends(" CAMERA"))) return true;
  }
  return false;
}

// Degrees from the three rationals of a GPS coordinate and its reference.
bool ExifCoordinate(const Exiv2::ExifData& exif, const char* key, const char* ref_key, char negative, double* out) {
  const auto found = exif.findKey(Exiv2::ExifKey(key));
  if (found == exif.end() || found->count() != 3) return false;
  double value = 0;
  double unit = 1;
  for (long i = 0; i < 3; ++i) {
    const Exiv2::Rational r = found->toRational(i);
    if (r.second == 0) {
      if (r.first != 0) return false;
    } else {
      value += static_cast<double>(r.first) / r.second / unit;
    }
    unit *= 60;
  }
  const std::string ref = ExifText(exif, ref_key);
  if (!ref.empty() && ref[0] == negative) value = -value;
  *out = value;
  return std::isfinite(value);
}

void FromExif(const Exiv2::ExifData& exif, const char* path, TPhotoText* text,
              std::vector<TPhotoTextWarning>* warnings) {
  if (text->caption.empty()) {
    const std::string description =
        TidyText(Utf8Value(ExifText(exif, "Exif.Image.ImageDescription"), "EXIF description", path, warnings),
                 kMaxPhotoCaptionBytes);
    const std::string make = TidyText(ExifText(exif, "Exif.Image.Make"), 200);
    const std::string model = TidyText(ExifText(exif, "Exif.Image.Model"), 200);
    if (!IsPlaceholderDescription(description, make, model)) text->caption = description;
  }
  const std::string lens = TidyLine(Utf8Value(ExifText(exif, "Exif.Photo.LensModel"), "EXIF lens", path, warnings),
                                    kMaxPhotoTitleBytes);
  if (!lens.empty()) text->lens = lens;
  double latitude = 0;
  double longitude = 0;
  if (!text->has_location &&
      ExifCoordinate(exif, "Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLatitudeRef", 'S', &latitude) &&
      ExifCoordinate(exif, "Exif.GPSInfo.GPSLongitude", "Exif.GPSInfo.GPSLongitudeRef", 'W', &longitude) &&
      UsablePlace(latitude, longitude)) {
    text->has_location = true;
    text->latitude = latitude;
    text->longitude = longitude;
  }
}

}  // namespace

void ReadEmbeddedPhotoText(const uint8_t* data, size_t size, const char* path, TPhotoText* text,
                           std::vector<TPhotoTextWarning>* warnings) {
  if (data == nullptr || size == 0 || size > static_cast<size_t>(LONG_MAX) || !SetUpExiv2()) return;
  try {
    auto image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
    if (image.get() == nullptr) return;
    image->readMetadata();
    if (image->xmpPacket().size() > kMaxXmpPacketBytes) {
      Warn(warnings, path, "XMP left out: packet larger than 1 MiB");
    } else {
      FromXmp(image->xmpData(), false, path, text, warnings);
    }
    FromIptc(image->iptcData(), path, text, warnings);
    FromExif(image->exifData(), path, text, warnings);
  } catch (const Exiv2::AnyError& error) {
    const int code = error.code();
    // A file exiv2 does not know carries nothing it could read: no warning.
    if (code == Exiv2::kerMemoryContainsUnknownImageType || code == Exiv2::kerFileContainsUnknownImageType ||
        code == Exiv2::kerNotAnImage)
      return;
    *text = TPhotoText{};
    Warn(warnings, path, std::string("metadata left out: ") + error.what());
  } catch (...) {
    *text = TPhotoText{};
    Warn(warnings, path, "metadata left out: cannot be read");
  }
}

void ReadXmpSidecarText(std::string_view packet, const char* path, TPhotoText* text,
                        std::vector<TPhotoTextWarning>* warnings) {
  if (packet.size() > kMaxXmpPacketBytes) {
    Warn(warnings, path, "sidecar left out: larger than 1 MiB");
    return;
  }
  if (!SetUpExiv2()) return;
  try {
    Exiv2::XmpData xmp;
    if (Exiv2::XmpParser::decode(xmp, std::string(packet)) != 0) {
      Warn(warnings, path, "sidecar left out: not a readable XMP packet");
      return;
    }
    FromXmp(xmp, true, path, text, warnings);
  } catch (...) {
    *text = TPhotoText{};
    Warn(warnings, path, "sidecar left out: not a readable XMP packet");
  }
}

namespace {

bool HoldsLocation(const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp) {
  for (const Exiv2::Exifdatum& datum : exif) {
    if (datum.groupName() == "GPSInfo") return true;
  }
  for (const Exiv2::Xmpdatum& datum : xmp) {
    if (datum.key().rfind("Xmp.exif.GPS", 0) == 0) return true;
  }
  return false;
}

// One pass: `data` rewritten without the GPS tags exiv2 reads from it. Sets
// `located` when there were any (`out` is then the rewritten file).
void StripOnce(const uint8_t* data, size_t size, bool* located, std::vector<uint8_t>* out) {
  auto image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
  if (image.get() == nullptr) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed);
  image->readMetadata();
  Exiv2::ExifData& exif = image->exifData();
  Exiv2::XmpData& xmp = image->xmpData();
  *located = HoldsLocation(exif, xmp);
  if (!*located) return;
  for (auto it = exif.begin(); it != exif.end();) {
    it = it->groupName() == "GPSInfo" ? exif.erase(it) : std::next(it);
  }
  // The pointer to the GPS folder goes with it.
  const auto pointer = exif.findKey(Exiv2::ExifKey("Exif.Image.GPSTag"));
  if (pointer != exif.end()) exif.erase(pointer);
  for (auto it = xmp.begin(); it != xmp.end();) {
    it = it->key().rfind("Xmp.exif.GPS", 0) == 0 ? xmp.erase(it) : std::next(it);
  }
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  const long written = io.size();
  if (written <= 0 || io.open() != 0) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed);
  out->resize(static_cast<size_t>(written));
  const long got = io.read(out->data(), written);
  io.close();
  if (got != written) throw Exiv2::Error(Exiv2::kerFailedToReadImageData);
}

// Rewrites a file at most this often: each pass takes out what exiv2 reads,
// and a file may hold more than one metadata block (two EXIF segments).
constexpr int kMaxStripPasses = 4;

}  // namespace

bool StripPhotoLocation(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  out->clear();
  if (data == nullptr || size == 0 || size > static_cast<size_t>(LONG_MAX) || !SetUpExiv2()) return false;
  try {
    std::vector<uint8_t> current(data, data + size);
    for (int pass = 0; pass <= kMaxStripPasses; ++pass) {
      bool located = false;
      std::vector<uint8_t> next;
      StripOnce(current.data(), current.size(), &located, &next);
      if (!located) {
        // Nothing (left) to take out: this file is the copy.
        *out = std::move(current);
        return true;
      }
      if (pass == kMaxStripPasses) break;
      current = std::move(next);
    }
    return false;
  } catch (...) {
    // Also a format exiv2 does not know: it may hold tags nobody here can take out.
    out->clear();
    return false;
  }
}
