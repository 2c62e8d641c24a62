// libFuzzer target: a Google Photos Takeout JSON beside a photo.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "photo_text_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPhotoText text;
  std::vector<TPhotoTextWarning> warnings;
  ReadTakeoutJsonText(std::string_view(reinterpret_cast<const char*>(data), size), "IMG_1.jpg", "IMG_1.jpg.json",
                      &text, &warnings);
  CheckPhotoText(text);
  return 0;
}
