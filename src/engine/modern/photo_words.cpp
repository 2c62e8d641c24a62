#include "engine/modern/photo_words.h"

#include <charconv>
#include <string_view>

#include "engine/modern/html.h"
#include "engine/modern/markdown.h"

namespace {

std::string_view TrimLine(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string PhotoCellLabel(const TPhotoText& text) {
  if (!text.title.empty()) return text.title;
  if (text.caption.empty()) return {};
  if (text.caption_markdown) return MarkdownFirstLine(text.caption);
  std::string_view rest = text.caption;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = TrimLine(rest.substr(0, end));
    if (!line.empty()) return std::string(line);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return {};
}

std::string PhotoCaptionHtml(const TPhotoText& text) {
  if (text.caption.empty()) return {};
  if (text.caption_markdown) return MarkdownToHtml(text.caption);
  std::string html = "<p>";
  std::string_view rest = text.caption;
  for (bool first = true;; first = false) {
    const size_t end = rest.find('\n');
    const std::string_view line = TrimLine(rest.substr(0, end));
    if (!first) html += "<br>\n";
    AppendModernText(html, line.data(), line.size());
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  html += "</p>\n";
  return html;
}

bool PhotoRating(int32_t rating, std::string* stars, std::string* spoken) {
  stars->clear();
  if (rating == -1) {
    *spoken = "Rejected";
    *stars = "\xE2\x9C\x95";  // ✕
    return true;
  }
  if (rating < 1 || rating > 5) return false;
  for (int32_t i = 0; i < 5; ++i) *stars += i < rating ? "\xE2\x98\x85" : "\xE2\x98\x86";  // ★ ☆
  *spoken = std::to_string(rating) + " of 5 stars";
  return true;
}

std::string VideoDurationText(int64_t duration_ms) {
  if (duration_ms <= 0) return std::string();
  const int64_t seconds = duration_ms / 1000;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

std::string CoordinateText(double degrees) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, degrees, std::chars_format::fixed, 6);
  return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string("0");
}

std::string MapAddress(double latitude, double longitude) {
  const std::string lat = CoordinateText(latitude);
  const std::string lon = CoordinateText(longitude);
  return "https://www.openstreetmap.org/?mlat=" + lat + "&mlon=" + lon + "#map=15/" + lat + "/" + lon;
}
