#pragma once
// The integer parse that Start and the settings store apply to number boxes.

#include <cstdint>
#include <optional>
#include <string_view>

#include <QString>

// Reads a whole 32-bit signed integer: leading blanks (space, tab), an optional
// sign, then decimal digits, or hexadecimal digits after "$", "x" or "0x"
// (either case). Nothing may follow the digits, not even a blank. A value
// outside the signed 32-bit range, with its sign applied, is refused.
std::optional<int32_t> ParseInt32(std::string_view text);

// ParseInt32 of the text, or `fallback` when it is refused.
int32_t StrToIntDef(const QString& text, int32_t fallback);
