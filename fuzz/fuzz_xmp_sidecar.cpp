// libFuzzer target: an XMP sidecar's packet through the exiv2 adapter.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "photo_text_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPhotoText text;
  std::vector<TPhotoTextWarning> warnings;
  ReadXmpSidecarText(std::string_view(reinterpret_cast<const char*>(data), size), "IMG.xmp", &text, &warnings);
  CheckPhotoText(text);
  return 0;
}
