// The readers of the window's INI settings file and of name=value
// configuration files, on arbitrary bytes. Beyond memory errors, a reader
// that reports success must name no error line, and one that fails must
// hand back no settings.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "support/setting_lines.h"

namespace {

void Check(const TSettingLines& lines, size_t size) {
  if (lines.ok && (lines.error_line != 0 || !lines.error.empty())) std::abort();
  if (!lines.ok && (!lines.lines.empty() || lines.error.empty() || lines.error_line < 1)) std::abort();
  for (const TSettingLine& line : lines.lines) {
    if (line.line < 1 || static_cast<size_t>(line.line) > size + 1 || line.name.empty()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Check(ParseQtIniText(text), size);
  Check(ParseConfigText(text), size);
  return 0;
}
