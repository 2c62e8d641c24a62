// libFuzzer target: a Markdown sidecar (header lines, then the caption), and
// the caption as the pages render it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/modern/photo_words.h"
#include "photo_text_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPhotoText text;
  std::vector<TPhotoTextWarning> warnings;
  ReadMarkdownSidecarText(std::string_view(reinterpret_cast<const char*>(data), size), "IMG.md", &text, &warnings);
  CheckPhotoText(text);
  const std::string html = PhotoCaptionHtml(text);
  // Raw HTML never passes: no script element can come out of a caption.
  if (html.find("<script") != std::string::npos) std::abort();
  const std::string label = PhotoCellLabel(text);
  if (!IsUtf8Text(label) || label.find('\n') != std::string::npos) std::abort();
  return 0;
}
