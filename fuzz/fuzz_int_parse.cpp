// libFuzzer target: the whole-number parse of the window's number boxes and
// of hand-edited settings. Checks what every result must satisfy: a value
// read back from its own decimal text is the same value, and the text-box
// form gives the same answer as the byte form.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

#include "ui/int_parse.h"

namespace {

constexpr int32_t kFallback = -7;

void CheckRoundTrip(int32_t value) {
  const std::string decimal = std::to_string(value);
  if (ParseInt32(decimal) != value) std::abort();
  if (ParseInt32("  " + decimal) != value) std::abort();
  if (ParseInt32(decimal + " ").has_value()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<int32_t> value = ParseInt32(text);
  if (value.has_value()) CheckRoundTrip(*value);

  // Latin-1 maps every byte to one character and back unchanged.
  const QString latin1 = QString::fromLatin1(text.data(), static_cast<qsizetype>(size));
  if (StrToIntDef(latin1, kFallback) != value.value_or(kFallback)) std::abort();
  // UTF-8 text as a user may type it: any result will do, only no fault.
  (void)StrToIntDef(QString::fromUtf8(text.data(), static_cast<qsizetype>(size)), kFallback);
  return 0;
}
