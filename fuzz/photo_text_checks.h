#pragma once
// What every photo text reader must give, whatever its input: UTF-8 texts
// within their caps, a bounded keyword list without repeats, a rating in
// range and a usable place or none. A breach ends the fuzz run.

#include <cstdlib>
#include <string>

#include "imagein/photo_text.h"
#include "imagein/photo_text_parts.h"

inline void CheckPhotoText(const TPhotoText& t) {
  auto text = [](const std::string& s, size_t cap) {
    if (s.size() > cap || !IsUtf8Text(s)) std::abort();
  };
  text(t.title, kMaxPhotoTitleBytes);
  text(t.caption, kMaxPhotoCaptionBytes);
  text(t.lens, kMaxPhotoTitleBytes);
  text(t.date_taken, 19);
  if (t.keywords.size() > kMaxPhotoKeywords) std::abort();
  for (size_t i = 0; i < t.keywords.size(); ++i) {
    text(t.keywords[i], kMaxPhotoKeywordBytes);
    if (t.keywords[i].empty()) std::abort();
    for (size_t j = 0; j < i; ++j) {
      if (t.keywords[j] == t.keywords[i]) std::abort();
    }
  }
  if (t.rating < -1 || t.rating > 5) std::abort();
  if (t.has_location && !UsablePlace(t.latitude, t.longitude)) std::abort();
  if (t.caption_markdown && t.caption.empty()) std::abort();
}
