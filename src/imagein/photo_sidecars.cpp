// The plain-text sidecars of a photo: a Markdown file with a `Name: value`
// header and the caption after it, and the JSON that Google Photos Takeout
// writes beside each photo. nlohmann-json parses without exceptions and
// every value's type is checked before it is used.

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "imagein/photo_text_parts.h"
#include "support/text_search.h"

namespace {

bool Digits(std::string_view s, size_t at, size_t count) {
  if (at + count > s.size()) return false;
  for (size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  return true;
}

// "YYYY-MM-DD HH:MM:SS" (or with a 'T'), or "YYYY-MM-DD" as its midnight; empty otherwise.
std::string NormalDate(std::string_view value) {
  if (value.size() != 10 && value.size() != 19) return {};
  if (!Digits(value, 0, 4) || value[4] != '-' || !Digits(value, 5, 2) || value[7] != '-' || !Digits(value, 8, 2))
    return {};
  const int month = (value[5] - '0') * 10 + (value[6] - '0');
  const int day = (value[8] - '0') * 10 + (value[9] - '0');
  if (month < 1 || month > 12 || day < 1 || day > 31) return {};
  if (value.size() == 10) return std::string(value) + " 00:00:00";
  if ((value[10] != ' ' && value[10] != 'T') || !Digits(value, 11, 2) || value[13] != ':' || !Digits(value, 14, 2) ||
      value[16] != ':' || !Digits(value, 17, 2))
    return {};
  const int hour = (value[11] - '0') * 10 + (value[12] - '0');
  const int minute = (value[14] - '0') * 10 + (value[15] - '0');
  const int second = (value[17] - '0') * 10 + (value[18] - '0');
  if (hour > 23 || minute > 59 || second > 60) return {};
  std::string out(value);
  out[10] = ' ';
  return out;
}

void SplitKeywords(std::string_view list, std::vector<std::string>* keywords) {
  for (;;) {
    const size_t comma = list.find(',');
    AddKeyword(list.substr(0, comma), keywords);
    if (comma == std::string_view::npos) return;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

void ReadMarkdownSidecarText(std::string_view markdown, const char* path, TPhotoText* text,
                             std::vector<TPhotoTextWarning>* warnings) {
  if (!IsUtf8Text(markdown)) {
    warnings->push_back({path, "sidecar left out: not UTF-8 text"});
    return;
  }
  std::vector<std::pair<std::string, std::string>> fields;
  std::string_view body;
  SplitTextHeader(markdown, &fields, &body);
  for (const auto& [name, value] : fields) {
    if (SameNoCase(name, "title")) {
      text->title = TidyLine(value, kMaxPhotoTitleBytes);
    } else if (SameNoCase(name, "keywords") || SameNoCase(name, "tags")) {
      text->keywords.clear();
      SplitKeywords(value, &text->keywords);
    } else if (SameNoCase(name, "date")) {
      text->date_taken = NormalDate(value);
      if (text->date_taken.empty() && !value.empty()) warnings->push_back({path, "Date: not YYYY-MM-DD HH:MM:SS"});
    } else if (SameNoCase(name, "rating")) {
      if (value.size() == 1 && value[0] >= '1' && value[0] <= '5') text->rating = value[0] - '0';
      if (value == "-1") text->rating = -1;
    }
  }
  text->caption = TidyText(body, kMaxPhotoCaptionBytes);
  text->caption_markdown = !text->caption.empty();
}

void ReadTakeoutJsonText(std::string_view bytes, const char* photo_name, const char* path, TPhotoText* text,
                         std::vector<TPhotoTextWarning>* warnings) {
  using nlohmann::json;
  const json root = json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (root.is_discarded() || !root.is_object()) {
    warnings->push_back({path, "sidecar left out: not a JSON object"});
    return;
  }
  // Text values that are not UTF-8 cannot come out of the parser: it refuses them.
  if (const auto title = root.find("title"); title != root.end() && title->is_string()) {
    const std::string value = TidyLine(title->get_ref<const std::string&>(), kMaxPhotoTitleBytes);
    // Takeout puts the file name there when the photo has no title.
    if (value != photo_name) text->title = value;
  }
  if (const auto description = root.find("description"); description != root.end() && description->is_string()) {
    text->caption = TidyText(description->get_ref<const std::string&>(), kMaxPhotoCaptionBytes);
    text->caption_markdown = false;
  }
  if (const auto taken = root.find("photoTakenTime"); taken != root.end() && taken->is_object()) {
    int64_t seconds = -1;
    if (const auto stamp = taken->find("timestamp"); stamp != taken->end()) {
      if (stamp->is_string()) {
        const std::string& digits = stamp->get_ref<const std::string&>();
        if (!digits.empty() && digits.size() <= 12 && Digits(digits, 0, digits.size())) seconds = std::strtoll(digits.c_str(), nullptr, 10);
      } else if (stamp->is_number_integer()) {
        seconds = stamp->get<int64_t>();
      }
    }
    // Up to the end of year 9999, the dates a page shows.
    if (seconds > 0 && seconds <= 253402300799LL) {
      const std::time_t when = static_cast<std::time_t>(seconds);
      std::tm utc{};
      char buffer[32];
      if (gmtime_r(&when, &utc) != nullptr && std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &utc) == 19) {
        text->date_taken = buffer;
      }
    } else if (seconds != -1 || taken->contains("timestamp")) {
      warnings->push_back({path, "photoTakenTime.timestamp is not a time"});
    }
  }
  if (const auto geo = root.find("geoData"); geo != root.end() && geo->is_object()) {
    const auto lat = geo->find("latitude");
    const auto lon = geo->find("longitude");
    if (lat != geo->end() && lon != geo->end() && lat->is_number() && lon->is_number()) {
      const double latitude = lat->get<double>();
      const double longitude = lon->get<double>();
      if (UsablePlace(latitude, longitude)) {
        text->has_location = true;
        text->latitude = latitude;
        text->longitude = longitude;
      }
    }
  }
}
