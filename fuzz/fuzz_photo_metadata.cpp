// libFuzzer target: the exiv2 adapter reading an image file's XMP, IPTC and
// EXIF texts from its bytes, and taking its GPS tags out for a published
// copy. Whatever the bytes: no crash, no exception past the adapter, texts
// within their rules, and a stripped copy that reads back without a place.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "photo_text_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPhotoText text;
  std::vector<TPhotoTextWarning> warnings;
  ReadEmbeddedPhotoText(data, size, "fuzz.jpg", &text, &warnings);
  CheckPhotoText(text);
  std::vector<uint8_t> stripped;
  if (StripPhotoLocation(data, size, &stripped)) {
    TPhotoText again;
    ReadEmbeddedPhotoText(stripped.data(), stripped.size(), "copy.jpg", &again, &warnings);
    CheckPhotoText(again);
    if (again.has_location) std::abort();
  }
  return 0;
}
